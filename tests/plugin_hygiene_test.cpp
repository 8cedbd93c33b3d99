// SPDX-License-Identifier: GPL-2.0-or-later
// Every plug-in file, checked as the host will meet it: an ELF shared object
// that needs no C++ runtime, asks the host library for the contract's names
// alone and for no symbol version of it, exports only its constructor,
// initialises no globals at load time, loads with RTLD_NOW and registers
// records for the clause its file name names.
#include "listed_plugins.h"
#include "zunder_host.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace {

struct elf_facts {
	bool valid = false;
	std::vector<std::string> needed;
	std::string soname;
	std::vector<std::string> exported; // defined, global, default visibility
	std::vector<std::string> undefined;
	std::vector<std::string> static_initialisers;                   // C++ dynamic initialisation
	std::vector<std::pair<std::string, std::string>> version_needs; // file, version node
	unsigned machine = 0;
	unsigned elf_class = 0;
};

template <typename Ehdr, typename Shdr, typename Sym, typename Dyn, typename Verneed, typename Vernaux>
elf_facts read_elf(const std::string &image)
{
	elf_facts facts;
	auto at = [&](size_t offset, size_t size) {
		return offset <= image.size() && size <= image.size() - offset;
	};
	if (!at(0, sizeof(Ehdr)))
		return facts;
	const auto *eh = reinterpret_cast<const Ehdr *>(image.data());
	if (!at(eh->e_shoff, size_t{eh->e_shnum} * sizeof(Shdr)))
		return facts;
	const auto *sections = reinterpret_cast<const Shdr *>(image.data() + eh->e_shoff);
	auto strings = [&](const Shdr &s, size_t offset) -> std::string {
		if (offset >= s.sh_size || !at(s.sh_offset, s.sh_size))
			return {};
		const char *base = image.data() + s.sh_offset + offset;
		return std::string(base, strnlen(base, s.sh_size - offset));
	};
	facts.machine = eh->e_machine;
	facts.elf_class = static_cast<unsigned char>(image[EI_CLASS]);
	for (unsigned i = 0; i < eh->e_shnum; ++i) {
		const Shdr &s = sections[i];
		if (!at(s.sh_offset, s.sh_size))
			continue;
		if (s.sh_link >= eh->e_shnum)
			continue;
		const Shdr &names = sections[s.sh_link];
		if (s.sh_type == SHT_DYNAMIC) {
			const auto *d = reinterpret_cast<const Dyn *>(image.data() + s.sh_offset);
			for (size_t k = 0; k < s.sh_size / sizeof(Dyn) && d[k].d_tag != DT_NULL; ++k)
				if (d[k].d_tag == DT_NEEDED)
					facts.needed.push_back(strings(names, d[k].d_un.d_val));
				else if (d[k].d_tag == DT_SONAME)
					facts.soname = strings(names, d[k].d_un.d_val);
		}
		if (s.sh_type == SHT_SYMTAB) {
			const auto *sym = reinterpret_cast<const Sym *>(image.data() + s.sh_offset);
			for (size_t k = 1; k < s.sh_size / sizeof(Sym); ++k)
				if (std::string name = strings(names, sym[k].st_name);
				    name.rfind("_GLOBAL__sub_I", 0) == 0)
					facts.static_initialisers.push_back(name);
		}
		// The symbol versions the file needs, a chain of files each with a
		// chain of version nodes, linked by byte offsets.
		if (s.sh_type == SHT_GNU_verneed) {
			size_t file_at = s.sh_offset;
			while (at(file_at, sizeof(Verneed))) {
				const auto *need = reinterpret_cast<const Verneed *>(image.data() + file_at);
				const std::string library = strings(names, need->vn_file);
				size_t aux_at = file_at + need->vn_aux;
				for (unsigned n = 0; n < need->vn_cnt && at(aux_at, sizeof(Vernaux)); ++n) {
					const auto *aux =
						reinterpret_cast<const Vernaux *>(image.data() + aux_at);
					facts.version_needs.emplace_back(library,
									 strings(names, aux->vna_name));
					if (aux->vna_next == 0)
						break;
					aux_at += aux->vna_next;
				}
				if (need->vn_next == 0)
					break;
				file_at += need->vn_next;
			}
		}
		if (s.sh_type == SHT_DYNSYM) {
			const auto *sym = reinterpret_cast<const Sym *>(image.data() + s.sh_offset);
			for (size_t k = 1; k < s.sh_size / sizeof(Sym); ++k) {
				const std::string name = strings(names, sym[k].st_name);
				const unsigned bind = sym[k].st_info >> 4;
				if (sym[k].st_shndx == SHN_UNDEF)
					facts.undefined.push_back(name);
				else if ((bind == STB_GLOBAL || bind == STB_WEAK) &&
					 (sym[k].st_other & 3) == STV_DEFAULT)
					facts.exported.push_back(name);
			}
		}
	}
	facts.valid = true;
	return facts;
}

elf_facts read_elf_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	const std::string image{std::istreambuf_iterator<char>(in), {}};
	if (image.size() < EI_NIDENT || image.compare(0, 4, ELFMAG) != 0)
		return {};
	if (image[EI_CLASS] == ELFCLASS32)
		return read_elf<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn, Elf32_Verneed, Elf32_Vernaux>(
			image);
	return read_elf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn, Elf64_Verneed, Elf64_Vernaux>(image);
}

// The host contract <zunder.h>: all that a plug-in may ask of the host library.
const std::set<std::string> &contract_names()
{
	static const std::set<std::string> names = {
		"zu_params",
		"zunder_register_match",
		"zunder_register_matches",
		"zunder_register_target",
		"zunder_register_targets",
		"zunder_option_parse",
		"zunder_ipaddr_to_numeric",
		"zunder_ipmask_to_numeric",
		"zunder_ip6addr_to_numeric",
		"zunder_ip6mask_to_numeric",
	};
	return names;
}

std::vector<std::string> plugin_files()
{
	std::vector<std::string> files;
	for (const listed_plugin &plugin : listed_plugins)
		files.push_back(plugin.path);
	return files;
}

const listed_plugin &listed(const std::string &path)
{
	for (const listed_plugin &plugin : listed_plugins)
		if (path == plugin.path)
			return plugin;
	std::abort(); // only paths from the list are tested
}

// The file name of the dynamic loader this test runs under (the program's
// PT_INTERP), ld-linux-armhf.so.3 on armhf: part of the C library.  On 32-bit
// ARM it holds the stack protector's guard value, so a plug-in with guarded
// functions needs it.
std::string c_library_loader()
{
	std::string loader;
	dl_iterate_phdr(
		[](dl_phdr_info *info, size_t, void *data) {
			for (int i = 0; i < info->dlpi_phnum; ++i)
				if (info->dlpi_phdr[i].p_type == PT_INTERP) {
					const char *path = reinterpret_cast<const char *>(
						info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
					const char *slash = std::strrchr(path, '/');
					*static_cast<std::string *>(data) = slash ? slash + 1 : path;
					return 1;
				}
			return 1; // the first object is the program itself
		},
		&loader);
	return loader;
}

// A needed library is allowed when it is a listed soname, or "libX.so"
// followed by a version when "libX.so" is listed.
bool allowed_need(const std::vector<std::string> &allowed, const std::string &lib)
{
	for (const std::string &a : allowed)
		if (lib == a || (a.ends_with(".so") && lib.rfind(a + ".", 0) == 0))
			return true;
	return false;
}

std::string stem(const std::string &path)
{
	std::string name = path.substr(path.find_last_of('/') + 1);
	return name.substr(0, name.find('.'));
}

class PluginFile : public ::testing::TestWithParam<std::string> {};

TEST_P(PluginFile, IsAPlainSharedObjectExportingOnlyItsConstructor)
{
	const std::string file = stem(GetParam());
	const elf_facts facts = read_elf_file(GetParam());
	ASSERT_TRUE(facts.valid) << GetParam();
	EXPECT_EQ(facts.elf_class, sizeof(void *) == 4 ? ELFCLASS32 : ELFCLASS64);

	std::vector<std::string> allowed = listed(GetParam()).needs;
	allowed.insert(allowed.end(), {"libc.so.6", c_library_loader(), "libzunder.so.10"});
#ifdef ZUNDER_SANITIZED
	allowed.insert(allowed.end(), {"libasan.so.8", "libubsan.so.1"});
#endif
	for (const std::string &lib : facts.needed)
		EXPECT_TRUE(allowed_need(allowed, lib)) << file << " needs " << lib;

	EXPECT_EQ(facts.exported, std::vector<std::string>{file + "_init"});
	for (const std::string &name : facts.undefined)
		// __cxa_finalize is libc's, referenced by every shared object's start files.
		EXPECT_TRUE(name == "__cxa_finalize" ||
			    (name.rfind("_Z", 0) != 0 && name.rfind("__cxa_", 0) != 0 &&
			     name.rfind("__gxx_", 0) != 0))
			<< file << " needs the C++ runtime for " << name;
	EXPECT_TRUE(facts.static_initialisers.empty()) << file << " initialises globals at load time";
}

// The device's host library is the platform's: a plug-in may need its
// soname and the contract's names, never a symbol version of the stand-in's
// (no node name is part of the contract) nor anything else it exports.
TEST_P(PluginFile, AsksTheHostLibraryForTheContractOnly)
{
	const std::string file = stem(GetParam());
	const elf_facts facts = read_elf_file(GetParam());
	ASSERT_TRUE(facts.valid) << GetParam();
	for (const auto &[library, version] : facts.version_needs)
		EXPECT_NE(library, "libzunder.so.10") << file << " needs version " << version << " of it";
	const elf_facts host = read_elf_file(ZUNDER_HOST_LIBRARY);
	ASSERT_TRUE(host.valid);
	const std::set<std::string> host_exports(host.exported.begin(), host.exported.end());
	for (const std::string &name : facts.undefined)
		EXPECT_TRUE(host_exports.count(name) == 0 || contract_names().count(name) != 0)
			<< file << " needs " << name << " of the host, which the contract does not name";
}

// The command looks for clause NAME in libzu_NAME.so, and for IPv6 also in
// libqeb_NAME.so: a file's records must serve the clause its name names,
// and a libqeb_ file's records IPv6, or the command never finds them.
TEST_P(PluginFile, LoadsAndRegistersRecordsForTheClauseItsNameNames)
{
	const std::string file = stem(GetParam());
	const bool ipv6_only = file.starts_with("libqeb_");
	ASSERT_TRUE(ipv6_only || file.starts_with("libzu_")) << file << " is named for no clause";
	const std::string clause = file.substr(file.find('_') + 1);

	const size_t before = zunder::registered_records().size();
	// The host loads with RTLD_NOW, so an unresolved symbol fails here.
	ASSERT_EQ(zunder::load_plugin_file(GetParam()), "");
	const auto &records = zunder::registered_records();
	ASSERT_GT(records.size(), before) << file << " registers nothing";
	std::set<std::pair<zunder::clause_kind, uint16_t>> served;
	for (size_t i = before; i < records.size(); ++i) {
		const zunder::plugin_record &r = records[i];
		EXPECT_EQ(r.name, clause) << file;
		EXPECT_TRUE(r.family == ZU_FAMILY_ANY || r.family == ZU_FAMILY_IPV4 ||
			    r.family == ZU_FAMILY_IPV6)
			<< file << " registers family " << r.family;
		if (ipv6_only) {
			EXPECT_EQ(r.family, ZU_FAMILY_IPV6) << file << " is never loaded for IPv4";
		}
		EXPECT_TRUE(served.insert({r.kind, r.family}).second)
			<< file << " registers two " << zunder::kind_word(r.kind) << " records for "
			<< zunder::family_word(r.family);
		EXPECT_GT(r.size, 0u) << file;
		EXPECT_LE(r.userspace_size, r.size) << file;
		EXPECT_EQ(r.loaded_from, GetParam());
	}
}

INSTANTIATE_TEST_SUITE_P(All, PluginFile, ::testing::ValuesIn(plugin_files()),
			 [](const auto &info) { return stem(info.param); });

TEST(HostLibrary, CarriesItsSoname)
{
	const elf_facts facts = read_elf_file(ZUNDER_HOST_LIBRARY);
	ASSERT_TRUE(facts.valid);
	EXPECT_EQ(facts.soname, "libzunder.so.10");
	EXPECT_EQ(facts.elf_class, sizeof(void *) == 4 ? ELFCLASS32 : ELFCLASS64);
}

// The host exports the C contract plug-ins link against and its own C++
// interface (namespace zunder), nothing of the C++ library it is built with.
TEST(HostLibrary, ExportsTheContractAndItsOwnInterfaceOnly)
{
	const elf_facts facts = read_elf_file(ZUNDER_HOST_LIBRARY);
	ASSERT_TRUE(facts.valid);
	const std::set<std::string> &contract = contract_names();
	const std::set<std::string> version_nodes = {"ZUNDER_10", "ZUNDER_PRIVATE"};
	std::set<std::string> exported_contract;
	for (const std::string &name : facts.exported) {
		if (contract.count(name) != 0) {
			exported_contract.insert(name);
			continue;
		}
		// _ZN6zunder... and _ZNK6zunder... are members of namespace zunder
		const bool own = name.rfind("_ZN6zunder", 0) == 0 || name.rfind("_ZNK6zunder", 0) == 0;
		EXPECT_TRUE(own || version_nodes.count(name) != 0) << "libzunder exports " << name;
	}
	EXPECT_EQ(exported_contract, contract);
	// The way back from a fatal error, which the command, tests and fuzzers call.
	EXPECT_EQ(std::count(facts.exported.begin(), facts.exported.end(), "_ZN6zunder8try_callEPFvPvES0_"),
		  1);
}

// Plug-ins link against the link-only libzunder.so.10: it must offer
// exactly the contract, unversioned, under the host's soname.
TEST(LinkStub, OffersExactlyTheContractUnversioned)
{
	const elf_facts facts = read_elf_file(ZUNDER_LINK_STUB);
	ASSERT_TRUE(facts.valid);
	EXPECT_EQ(facts.soname, "libzunder.so.10");
	std::set<std::string> exported(facts.exported.begin(), facts.exported.end());
#ifdef ZUNDER_SANITIZED
	// AddressSanitizer's marker of an instrumented global (zu_params).
	std::erase_if(exported, [](const std::string &name) { return name.starts_with("__odr_asan"); });
#endif
	EXPECT_EQ(exported, contract_names());
}

} // namespace

int main(int argc, char **argv)
{
	// The connection-label plug-in registers only when it can read a label file.
	setenv("PAVANE_CONNLABEL_CONF", ZUNDER_SAMPLE_LABELS, 0);
	::testing::InitGoogleTest(&argc, argv);
	return RUN_ALL_TESTS();
}
