// SPDX-License-Identifier: GPL-2.0-or-later
// Every plug-in file as the host meets it, and the host library and link
// stub as plug-ins need them.
#include "listed_plugins.h"
#include "zunder_host.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using names = std::set<std::string>;

struct elf_facts {
	bool valid = false; // an ELF file of this program's class
	std::string soname;
	std::vector<std::string> needed, undefined;
	std::vector<std::string> exported;            // defined, global or weak, default visibility
	std::vector<std::string> static_initialisers; // C++ dynamic initialisation
	std::vector<std::pair<std::string, std::string>> version_needs; // file, version node
	bool defines_versions = false;                                  // has version nodes of its own
};

elf_facts read_elf(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	const std::string image{std::istreambuf_iterator<char>(in), {}};
	auto fits = [&](size_t offset, size_t size) {
		return offset <= image.size() && size <= image.size() - offset;
	};
	auto at = [&](size_t offset) { return image.data() + offset; };
	elf_facts facts;
	const auto *eh = reinterpret_cast<const ElfW(Ehdr) *>(at(0));
	if (!fits(0, sizeof *eh) || image.compare(0, SELFMAG, ELFMAG) != 0 ||
	    image[EI_CLASS] != (sizeof(void *) == 4 ? ELFCLASS32 : ELFCLASS64) ||
	    !fits(eh->e_shoff, size_t{eh->e_shnum} * sizeof(ElfW(Shdr))))
		return facts;
	const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(at(eh->e_shoff));
	for (unsigned i = 0; i < eh->e_shnum; ++i) {
		const ElfW(Shdr) &s = sections[i];
		if (!fits(s.sh_offset, s.sh_size) || s.sh_link >= eh->e_shnum)
			continue;
		const ElfW(Shdr) &names = sections[s.sh_link];
		const std::string_view strings =
			fits(names.sh_offset, names.sh_size)
				? std::string_view(at(names.sh_offset), names.sh_size)
				: "";
		auto text = [&](size_t from) {
			return std::string(from < strings.size()
						   ? strings.substr(from, strings.find('\0', from) - from)
						   : "");
		};
		if (s.sh_type == SHT_DYNAMIC) {
			const auto *d = reinterpret_cast<const ElfW(Dyn) *>(at(s.sh_offset));
			for (size_t k = 0; k < s.sh_size / sizeof *d && d[k].d_tag != DT_NULL; ++k)
				if (d[k].d_tag == DT_NEEDED)
					facts.needed.push_back(text(d[k].d_un.d_val));
				else if (d[k].d_tag == DT_SONAME)
					facts.soname = text(d[k].d_un.d_val);
		} else if (s.sh_type == SHT_SYMTAB || s.sh_type == SHT_DYNSYM) {
			const auto *sym = reinterpret_cast<const ElfW(Sym) *>(at(s.sh_offset));
			for (size_t k = 1; k < s.sh_size / sizeof *sym; ++k) {
				const std::string name = text(sym[k].st_name);
				const unsigned bind = sym[k].st_info >> 4;
				if (s.sh_type == SHT_SYMTAB) {
					if (name.starts_with("_GLOBAL__sub_I"))
						facts.static_initialisers.push_back(name);
				} else if (sym[k].st_shndx == SHN_UNDEF) {
					facts.undefined.push_back(name);
				} else if ((bind == STB_GLOBAL || bind == STB_WEAK) &&
					   (sym[k].st_other & 3) == STV_DEFAULT) {
					facts.exported.push_back(name);
				}
			}
		} else if (s.sh_type == SHT_GNU_verneed) {
			// A chain of files, each with a chain of version nodes, linked by offsets.
			for (size_t f = s.sh_offset, next = 1; next && fits(f, sizeof(ElfW(Verneed)));
			     f += next) {
				const auto *need = reinterpret_cast<const ElfW(Verneed) *>(at(f));
				size_t a = f + need->vn_aux, step = 1;
				for (unsigned n = 0;
				     n < need->vn_cnt && step && fits(a, sizeof(ElfW(Vernaux))); ++n) {
					const auto *aux = reinterpret_cast<const ElfW(Vernaux) *>(at(a));
					facts.version_needs.emplace_back(text(need->vn_file),
									 text(aux->vna_name));
					a += step = aux->vna_next;
				}
				next = need->vn_next;
			}
		} else if (s.sh_type == SHT_GNU_verdef) {
			facts.defines_versions = true;
		}
	}
	facts.valid = true;
	return facts;
}

// The host contract <zunder.h>: all that a plug-in may ask of the host library.
const names contract = {"zu_params",
			"zunder_register_match",
			"zunder_register_matches",
			"zunder_register_target",
			"zunder_register_targets",
			"zunder_option_parse",
			"zunder_ipaddr_to_numeric",
			"zunder_ipmask_to_numeric",
			"zunder_ip6addr_to_numeric",
			"zunder_ip6mask_to_numeric"};

// The file name of this program's dynamic loader (its PT_INTERP), part of
// the C library: on 32-bit ARM it holds the stack guard, so a plug-in with
// guarded functions needs it.
std::string c_library_loader()
{
	const char *interp = nullptr;
	dl_iterate_phdr(
		[](dl_phdr_info *info, size_t, void *out) {
			for (int i = 0; i < info->dlpi_phnum; ++i)
				if (info->dlpi_phdr[i].p_type == PT_INTERP)
					*static_cast<const char **>(out) = reinterpret_cast<const char *>(
						info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
			return 1; // the first object is the program itself
		},
		&interp);
	return interp ? std::filesystem::path(interp).filename() : "";
}

std::string stem(const std::string &path)
{
	const std::string name = std::filesystem::path(path).filename();
	return name.substr(0, name.find('.'));
}

class PluginFile : public ::testing::TestWithParam<size_t> {
protected:
	const listed_plugin &plugin = listed_plugins[GetParam()];
	const std::string file = stem(plugin.path);
};

// A plug-in exports only its constructor, initialises no globals at load
// time and needs no C++ runtime.  The device's host library is the
// platform's: a plug-in may need its soname and the contract's names, never
// a symbol version of the stand-in's (no node name is part of the contract)
// nor anything else it exports.
TEST_P(PluginFile, LinksOnlyToTheContractAndTheCLibrary)
{
	const elf_facts facts = read_elf(plugin.path), host = read_elf(ZUNDER_HOST_LIBRARY);
	ASSERT_TRUE(facts.valid && host.valid) << plugin.path;

	// "libX.so" in the list stands for any version of it.
	std::vector<std::string> allowed = plugin.needs;
	allowed.insert(allowed.end(), {"libc.so.6", c_library_loader(), "libzunder.so.10"});
#ifdef ZUNDER_SANITIZED
	allowed.insert(allowed.end(), {"libasan.so.8", "libubsan.so.1"});
#endif
	for (const std::string &lib : facts.needed)
		EXPECT_TRUE(std::ranges::any_of(allowed,
						[&](const std::string &a) {
							return lib == a || (a.ends_with(".so") &&
									    lib.starts_with(a + "."));
						}))
			<< file << " needs " << lib;

	EXPECT_EQ(facts.exported, std::vector<std::string>{file + "_init"});
	const names host_exports(host.exported.begin(), host.exported.end());
	for (const std::string &name : facts.undefined) {
		// __cxa_finalize is libc's, referenced by every shared object's start files.
		EXPECT_TRUE(
			name == "__cxa_finalize" ||
			!(name.starts_with("_Z") || name.starts_with("__cxa_") || name.starts_with("__gxx_")))
			<< file << " needs the C++ runtime for " << name;
		EXPECT_TRUE(!host_exports.contains(name) || contract.contains(name))
			<< file << " needs " << name << " of the host, which the contract does not name";
	}
	EXPECT_TRUE(facts.static_initialisers.empty()) << file << " initialises globals at load time";
	for (const auto &[library, version] : facts.version_needs)
		EXPECT_NE(library, "libzunder.so.10") << file << " needs version " << version << " of it";
}

// The command looks for clause NAME in libzu_NAME.so, and for IPv6 also in
// libqeb_NAME.so: a file's records must serve the clause its name names,
// and a libqeb_ file's records IPv6, or the command never finds them.
TEST_P(PluginFile, LoadsAndRegistersRecordsForTheClauseItsNameNames)
{
	const bool ipv6_only = file.starts_with("libqeb_");
	ASSERT_TRUE(ipv6_only || file.starts_with("libzu_")) << file << " is named for no clause";
	const std::string clause = file.substr(file.find('_') + 1);

	const size_t before = zunder::registered_records().size();
	ASSERT_EQ(zunder::load_plugin_file(plugin.path), ""); // RTLD_NOW: an unresolved symbol fails here
	const auto &records = zunder::registered_records();
	ASSERT_GT(records.size(), before) << file << " registers nothing";
	std::set<std::pair<zunder::clause_kind, uint16_t>> served;
	for (size_t i = before; i < records.size(); ++i) {
		const zunder::plugin_record &r = records[i];
		EXPECT_EQ(r.name, clause) << file;
		EXPECT_TRUE(r.family == ZU_FAMILY_ANY || r.family == ZU_FAMILY_IPV4 ||
			    r.family == ZU_FAMILY_IPV6)
			<< file << " registers family " << r.family;
		EXPECT_TRUE(!ipv6_only || r.family == ZU_FAMILY_IPV6) << file << " is never loaded for IPv4";
		EXPECT_TRUE(served.insert({r.kind, r.family}).second)
			<< file << " registers two " << zunder::kind_word(r.kind) << " records for "
			<< zunder::family_word(r.family);
		EXPECT_GT(r.size, 0u) << file;
		EXPECT_LE(r.userspace_size, r.size) << file;
		EXPECT_EQ(r.loaded_from, plugin.path);
	}
}

INSTANTIATE_TEST_SUITE_P(All, PluginFile, ::testing::Range<size_t>(0, listed_plugins.size()),
			 [](const auto &info) { return stem(listed_plugins[info.param].path); });

// The host exports the C contract and its own C++ interface (namespace
// zunder), nothing of the C++ library it is built with.
TEST(HostLibrary, CarriesItsSonameAndExportsTheContractAndItsOwnInterfaceOnly)
{
	const elf_facts facts = read_elf(ZUNDER_HOST_LIBRARY);
	ASSERT_TRUE(facts.valid);
	EXPECT_EQ(facts.soname, "libzunder.so.10");
	names exported_contract;
	for (const std::string &name : facts.exported)
		if (contract.contains(name))
			exported_contract.insert(name);
		else
			EXPECT_TRUE(name.starts_with("_ZN6zunder") || name.starts_with("_ZNK6zunder") ||
				    name == "ZUNDER_10" || name == "ZUNDER_PRIVATE")
				<< "libzunder exports " << name;
	EXPECT_EQ(exported_contract, contract);
	// The way back from a fatal error, which the command, tests and fuzzers call.
	EXPECT_EQ(std::ranges::count(facts.exported, "_ZN6zunder8try_callEPFvPvES0_"), 1);
}

// Plug-ins link against the link-only libzunder.so.10: exactly the
// contract, unversioned, under the host's soname.
TEST(LinkStub, OffersExactlyTheContractUnversioned)
{
	const elf_facts facts = read_elf(ZUNDER_LINK_STUB);
	ASSERT_TRUE(facts.valid);
	EXPECT_EQ(facts.soname, "libzunder.so.10");
	EXPECT_FALSE(facts.defines_versions);
	names exported(facts.exported.begin(), facts.exported.end());
#ifdef ZUNDER_SANITIZED
	// AddressSanitizer's marker of an instrumented global (zu_params).
	std::erase_if(exported, [](const std::string &name) { return name.starts_with("__odr_asan"); });
#endif
	EXPECT_EQ(exported, contract);
}

} // namespace

int main(int argc, char **argv)
{
	// The connection-label plug-in registers only when it can read a label file.
	setenv("PAVANE_CONNLABEL_CONF", ZUNDER_SAMPLE_LABELS, 0);
	::testing::InitGoogleTest(&argc, argv);
	return RUN_ALL_TESTS();
}
