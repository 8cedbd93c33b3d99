#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The armhf build judged by Debian 12's own armhf kernel.
#
#   scripts/armhf-kernel.sh [--rows DIR] [ARMHF_BUILD [NATIVE_BUILD]]
#
# Fetches Debian's current armhf kernel (linux-image-6.1.0-*-armmp) and
# busybox-static with apt, kept in a cache between runs, and boots them under
# qemu-system-arm with a small initramfs holding the armhf build's zunder,
# host library, label-map library and plug-ins, the C and C++ runtime, and the
# packet filter's modules.  Inside, every accepted row of the tests goes
# through `zunder --kernel --batch`, one batch a clause; here the native build
# runs the same rows, and each rule's output is compared.  Prints one line:
#
#   armhf kernel 6.1.0-NN-armmp: N rules, N accepted, same blocks (package
#   VERSION, machine S s, T s in all)
#
# The rows are the accepted rules of the rule tables (plugins/*/<clause>.cases),
# written by the native build's table runner (zunder_cases --rows) as batch
# lines to <clause>.rules, after a line "# env: CHANGE..." when a rule runs
# with changes to zunder's environment (NAME=value, or a bare NAME taken
# away) beyond the fixed protocol table that every row has preloaded; and
# every ipv6header mask of ipv6header_masks.inc in its four forms.  With
# --rows DIR they are read from there instead.  In the machine, a file a
# change names is a copy, a file of the native build its armhf counterpart.
#
# Then the packet judge (tests/packets/packet_judge.cpp, built by the armhf
# build) runs every case of the packet tables (plugins/*/packets.cases, and
# the corrupted blocks it must catch) in the machine, with the IPsec modules
# loaded, and here natively; one line a kernel:
#
#   packets on RELEASE: N cases, N agree
#
# Exit status: 0 when every rule is accepted with the same output as
# natively and every packet case agrees in the machine, none skipped; 1 on
# a refusal, a difference, a packet case that disagrees or is skipped in the
# machine, or a boot that does not finish in
# time (ZUNDER_ARMHF_KERNEL_TIMEOUT seconds, default 300); 2 on a usage or
# set-up error; 77 when this machine cannot run the check (a tool or the
# packages missing), with one line saying why.
#
# Cache: ZUNDER_ARMHF_KERNEL_CACHE, default /var/cache/zunder-armhf-kernel
# (as root) or ~/.cache/zunder-armhf-kernel: the packages and the unpacked
# kernel.  ZUNDER_ARMHF_KERNEL_KEEP=1 keeps the work folder (initramfs,
# console log, both sides' results) and says where.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
rows_dir=""
if [[ ${1:-} == --rows ]]; then
	rows_dir=${2:?--rows needs a folder}
	shift 2
fi
armhf_build=$(realpath "${1:-$source_dir/build-armhf}")
native_build=$(realpath "${2:-$source_dir/build}")
bound=${ZUNDER_ARMHF_KERNEL_TIMEOUT:-300}
if [[ $(id -u) -eq 0 ]]; then
	cache=${ZUNDER_ARMHF_KERNEL_CACHE:-/var/cache/zunder-armhf-kernel}
else
	cache=${ZUNDER_ARMHF_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zunder-armhf-kernel}
fi

# Each clause: its kernel module, the kernel's lists that name it (matches
# or targets), and the families whose lists must hold it once it is loaded.
clauses=(
	"policy     xt_policy       matches 4 6"
	"RATEEST    xt_RATEEST      targets 4 6"
	"ipv6header ip6t_ipv6header matches 6"
	"connlabel  xt_connlabel    matches 4 6"
	"ah         ip6t_ah         matches 6"
)
# The filter tables whose FORWARD chain `zunder --kernel` uses.
table_modules=(iptable_filter ip6table_filter)
# IPsec for the packet judge's policy cases: the XFRM netlink interface, ESP,
# AH and IPComp for both families, and the algorithms its states name, which
# the crypto layer would otherwise ask modprobe for (crypto_null is built in).
ipsec_modules=(xfrm_user esp4 esp6 ah4 ah6 ipcomp ipcomp6 authenc ecb echainiv deflate)
# Dependencies no `depends` field names: libcrc32c asks the crypto layer for
# the algorithm "crc32c" (its softdep), which crc32c_generic provides.
declare -A loaded_before=([libcrc32c]=crc32c_generic)

die() {
	echo "armhf-kernel: $*" >&2
	exit 2
}
cannot() {
	echo "armhf kernel check skipped: $*"
	exit 77
}
failed() {
	echo "armhf-kernel: $*" >&2
	exit 1
}

for tool in qemu-system-arm:qemu-system-arm cpio:cpio modinfo:kmod dpkg-deb:dpkg apt-get:apt \
	readelf:binutils gzip:gzip timeout:coreutils; do
	command -v "${tool%%:*}" >/dev/null || cannot "no ${tool%%:*} (package ${tool#*:}; scripts/deps.sh --test installs it)"
done
[[ -x $armhf_build/bin/zunder ]] || die "no armhf build in $armhf_build (cmake --preset armhf && cmake --build --preset armhf)"
[[ -x $native_build/bin/zunder ]] || die "no native build in $native_build (cmake --preset default && cmake --build --preset default)"
[[ -f $armhf_build/test-preload/zunder_fixed_protocols.so ]] || die "the armhf build has no test preload (built without tests?)"
[[ -x $armhf_build/bin/packet_judge ]] || die "the armhf build has no packet_judge (built without tests?)"
packet_tables=("$source_dir"/plugins/*/packets*.cases)

# The table above must know every plug-in the build makes, and no other.
declare -A known=()
for row in "${clauses[@]}"; do
	read -r clause _ <<<"$row"
	known[$clause]=1
	compgen -G "$armhf_build/lib/lib*_$clause.so" >/dev/null || die "the armhf build has no plug-in for $clause"
done
for plugin in "$armhf_build"/lib/libzu_*.so "$armhf_build"/lib/libqeb_*.so; do
	clause=${plugin##*/lib*_}
	clause=${clause%.so}
	[[ -n ${known[$clause]:-} ]] || die "no kernel module known for clause $clause: add it to the table of clauses"
done

work=$(mktemp -d)
if [[ -n ${ZUNDER_ARMHF_KERNEL_KEEP:-} ]]; then
	echo "armhf-kernel: keeping the initramfs, console log and results in $work"
else
	trap 'rm -rf "$work"' EXIT
fi

# --- Packages: the candidate versions, fetched once into the cache ---------

as_root() {
	if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo -n "$@"; fi
}
kernel_package=$(apt-cache depends linux-image-armmp:armhf 2>/dev/null |
	sed -n 's/^ *Depends: \(linux-image-6\.1\.0-[0-9]*-armmp\):armhf$/\1/p' | head -n 1)
[[ -n $kernel_package ]] || cannot "apt knows no linux-image-armmp:armhf (dpkg --add-architecture armhf; apt-get update)"
kernel_release=${kernel_package#linux-image-}

# fetch PACKAGE...: sets debs to the cache's files of the packages'
# candidate versions, in the same order, each fetched unless the cache holds
# it with the registry's checksum.  Once, the package lists are brought up
# to date if the registry no longer has a version they name.
fetch() {
	local attempt uris uri file size checksum
	for attempt in 1 2; do
		((attempt == 1)) || as_root apt-get update -qq >/dev/null 2>&1 || true
		uris=$(apt-get download --print-uris "$@" 2>"$work/apt.log") ||
			cannot "apt cannot find $*: $(tail -n 1 "$work/apt.log")"
		debs=()
		while read -r uri file size checksum; do
			debs+=("$cache/$file")
			[[ -s $cache/$file && $(sha256sum <"$cache/$file") == "${checksum#SHA256:} "* ]] && continue
			mkdir -p "$cache"
			rm -f "$cache/$file"
			(cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "${file%%_*}:armhf") \
				>"$work/apt.log" 2>&1 || break
		done <<<"$uris"
		for file in "${debs[@]}"; do
			[[ -s $file ]] || continue 2
		done
		return
	done
	cannot "cannot fetch $*: $(tail -n 1 "$work/apt.log")"
}
fetch "$kernel_package:armhf" busybox-static:armhf
for deb in "${debs[@]}"; do
	case $(dpkg-deb -f "$deb" Package) in
	"$kernel_package") kernel_deb=$deb ;;
	busybox-static) busybox_deb=$deb ;;
	esac
done
kernel_version=$(dpkg-deb -f "$kernel_deb" Version)

# unpacked DEB: the folder holding the package's files, unpacked once.
unpacked() {
	local folder=${1%.deb}.unpacked
	if [[ ! -d $folder ]]; then
		rm -rf "$folder.new"
		dpkg-deb -x "$1" "$folder.new"
		mv "$folder.new" "$folder"
	fi
	echo "$folder"
}
kernel_tree=$(unpacked "$kernel_deb")
busybox_tree=$(unpacked "$busybox_deb")
module_tree=$kernel_tree/lib/modules/$kernel_release
[[ -d $module_tree ]] || die "$kernel_deb holds no modules for $kernel_release"

# --- The initramfs ----------------------------------------------------------

root=$work/root
mkdir -p "$root"/{bin,dev,etc,proc,sys,tmp,modules,rows,files,z/bin,z/lib,z/test-preload,lib/arm-linux-gnueabihf}
cp "$busybox_tree/bin/busybox" "$root/bin/"
ln -s busybox "$root/bin/sh"

# Modules in dependency order: each after everything its `depends` field
# (and loaded_before) names.
declare -A placed=()
module_order=()
module_file() {
	local found
	found=$(find "$module_tree" -name "${1//_/[-_]}.ko*" -print -quit)
	[[ -n $found ]] || die "no module $1 in $kernel_package"
	echo "$found"
}
place() {
	local name=$1 file dep softdep
	[[ -z ${placed[$name]:-} ]] || return 0
	placed[$name]=1
	file=$(module_file "$name")
	softdep=$(modinfo -F softdep "$file")
	if [[ -n $softdep && -z ${loaded_before[$name]:-} ]]; then
		die "module $name also needs ($softdep), which this script does not know how to load"
	fi
	for dep in $(modinfo -F depends "$file" | tr ',' ' ') ${loaded_before[$name]:-}; do
		place "$dep"
	done
	cp "$file" "$root/modules/"
	module_order+=("$(basename "$file")")
}
for row in "${clauses[@]}"; do
	read -r _ module _ <<<"$row"
	place "$module"
done
for module in "${table_modules[@]}" "${ipsec_modules[@]}"; do
	place "$module"
done
printf '%s\n' "${module_order[@]}" >"$root/modules/order"

# The armhf build's files, in the build tree's layout so that zunder finds
# its plug-ins and the label file as it does there.
cp "$armhf_build/bin/zunder" "$armhf_build/bin/packet_judge" "$root/z/bin/"
mkdir -p "$root/cases"
for table in "${packet_tables[@]}"; do
	cp "$table" "$root/cases/$(basename "$(dirname "$table")")-$(basename "$table")"
done
mkdir -p "$root/cases/wrong"
cp "$source_dir"/tests/packets/corrupted*.cases "$root/cases/wrong/"
find "$armhf_build/lib" -maxdepth 1 \( -name '*.so*' -o -name '*.conf' \) -exec cp -P {} "$root/z/lib/" \;
cp "$armhf_build"/test-preload/*.so "$root/z/test-preload/"
# The rows that run with the machine's own protocol database find this one's.
[[ ! -f /etc/protocols ]] || cp /etc/protocols "$root/etc/"

# The C and C++ runtime: every library the armhf files need, found where the
# armhf loader finds them.
runtime_dirs=("$root/z/lib" /lib/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf /usr/arm-linux-gnueabihf/lib)
declare -A copied=()
copy_needs() {
	local file=$1 need dir
	for need in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
		[[ -z ${copied[$need]:-} ]] || continue
		copied[$need]=1
		[[ -e $root/z/lib/$need ]] && continue
		for dir in "${runtime_dirs[@]:1}"; do
			if [[ -e $dir/$need ]]; then
				cp -L "$dir/$need" "$root/lib/arm-linux-gnueabihf/"
				copy_needs "$dir/$need"
				continue 2
			fi
		done
		die "no armhf $need for $(basename "$file")"
	done
}
for file in "$root"/z/bin/* "$root"/z/lib/*.so* "$root"/z/test-preload/*; do
	[[ -L $file ]] || copy_needs "$file"
done
loader=$(readelf -l "$armhf_build/bin/zunder" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
for dir in "${runtime_dirs[@]:1}"; do
	if [[ -e $dir/$(basename "$loader") ]]; then
		cp -L "$dir/$(basename "$loader")" "$root/lib/arm-linux-gnueabihf/"
		break
	fi
done
[[ -e $root/lib/arm-linux-gnueabihf/$(basename "$loader") ]] || die "no armhf loader $loader"
ln -sf "arm-linux-gnueabihf/$(basename "$loader")" "$root$loader"

# The rows, made here from the tables unless given.
if [[ -z $rows_dir ]]; then
	rows_dir=$work/collected
	mkdir -p "$rows_dir"
	for table in "$source_dir"/plugins/*/*.cases; do
		[[ $(basename "$table") == packets* ]] ||
			"$native_build/bin/zunder_cases" --rows "$rows_dir" "$table" || die "cannot read $table"
	done
	sed -n 's/^{0x\(..\), "\(.*\)"},$/\2/p' "$source_dir/plugins/ipv6header/ipv6header_masks.inc" |
		while read -r names; do
			for form in "" "! " "SOFT" "! SOFT"; do
				options="${form%SOFT}--header $names"
				[[ $form != *SOFT ]] || options+=" --soft"
				echo "-6 -m ipv6header $options"
			done
		done >>"$rows_dir/ipv6header.rules"
fi

# vm_change CHANGE: sets vm_word to the change as the machine makes it,
# copying into the initramfs the file it names.
declare -A vm_changes=()
vm_change() {
	local name=${1%%=*} value=${1#*=} copy
	if [[ $1 != *=* ]]; then
		vm_word="-u $1"
		return
	fi
	vm_word=${vm_changes[$1]:-}
	[[ -z $vm_word ]] || return 0
	if [[ $value == "$native_build"/* ]]; then
		copy=/z/${value#"$native_build"/}
		[[ -e $armhf_build/${value#"$native_build"/} ]] || die "no armhf counterpart of $value"
		if [[ ! -e $root$copy ]]; then
			mkdir -p "$root$(dirname "$copy")"
			cp -r "$armhf_build/${value#"$native_build"/}" "$root$copy"
		fi
		vm_word="$name=$copy"
	elif [[ $value == /* && -f $value ]]; then
		copy=/files/$((${#vm_changes[@]} + 1))-$(basename "$value")
		cp "$value" "$root$copy"
		vm_word="$name=$copy"
	else
		vm_word=$1
	fi
	vm_changes[$1]=$vm_word
}
# Each clause's rows go in batches of consecutive rows with the same
# changes, one folder a clause on each side: NNN.rules and NNN.env, the
# words env(1) takes before zunder.  <clause>.list keeps, a line a rule, its
# changes and its row (split by the byte 0x1f, which no row holds) for the
# report.
rule_count=0
for row in "${clauses[@]}"; do
	read -r clause _ <<<"$row"
	[[ -s $rows_dir/$clause.rules ]] || failed "no rows for $clause in $rows_dir"
	# A row the tests accepted twice with the same changes is one rule.
	awk '/^# env: / { changes = substr($0, 8); next }
	     /^[ \t]*(#|$)/ { next }
	     !seen[changes "\037" $0]++ { print changes "\037" $0 }
	     { changes = "" }' "$rows_dir/$clause.rules" >"$work/$clause.list"
	mkdir -p "$root/rows/$clause" "$work/native-rows/$clause"
	batch=0
	previous=""
	while IFS=$'\x1f' read -r changes rule; do
		if ((batch == 0)) || [[ $changes != "$previous" ]]; then
			batch=$((batch + 1))
			previous=$changes
			name=$(printf '%03d' "$batch")
			vm_words=""
			for change in $changes; do
				vm_change "$change"
				vm_words+=" $vm_word"
			done
			echo "$vm_words" >"$root/rows/$clause/$name.env"
			for change in $changes; do
				[[ $change == *=* ]] && echo -n " $change" || echo -n " -u $change"
			done >"$work/native-rows/$clause/$name.env"
			echo >>"$work/native-rows/$clause/$name.env"
		fi
		printf '%s\n' "$rule" >>"$root/rows/$clause/$name.rules"
		printf '%s\n' "$rule" >>"$work/native-rows/$clause/$name.rules"
		rule_count=$((rule_count + 1))
	done <"$work/$clause.list"
done

# Runs a clause's batches, each through one zunder, and prints the results:
# after "@@ batch CLAUSE FIRST", the batch's output (its first rule is the
# clause's rule FIRST); if the batch fails, each of its rules alone, after
# "@@ rule CLAUSE I status S", its output and its messages as "@@ err ...".
# POSIX sh: it runs here under bash and in the machine under busybox.
cat >"$root/run-rows" <<'EOF'
run_rows() { # ZUNDER MODE CLAUSE FOLDER TMP
	first=1
	for rules in "$4"/*.rules; do
		changes=$(cat "${rules%.rules}.env")
		if env $changes "$1" $2 --batch "$rules" >"$5/out" 2>"$5/err" </dev/null; then
			echo "@@ batch $3 $first"
			cat "$5/out"
		else
			i=$first
			while IFS= read -r line; do
				printf '%s\n' "$line" >"$5/one"
				status=0
				env $changes "$1" $2 --batch "$5/one" >"$5/out" 2>"$5/err" </dev/null || status=$?
				echo "@@ rule $3 $i status $status"
				cat "$5/out"
				sed 's/^/@@ err /' "$5/err"
				i=$((i + 1))
			done <"$rules"
		fi
		first=$((first + $(wc -l <"$rules")))
	done
}
EOF

clause_words=""
for row in "${clauses[@]}"; do
	read -r clause module kind families <<<"$row"
	clause_words+=" $clause:$kind:${families// /,}"
done
cat >"$root/init" <<EOF
#!/bin/sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
echo 1 >/proc/sys/kernel/printk
. /run-rows
echo "@@@ begin"
echo "@@ kernel \$(uname -r) \$(uname -m)"
for module in \$(cat /modules/order); do
	insmod /modules/\$module || echo "@@ failed insmod \$module"
done
for entry in$clause_words; do
	clause=\${entry%%:*}
	rest=\${entry#*:}
	kind=\${rest%%:*}
	for family in \$(echo \${rest#*:} | tr , ' '); do
		list=/proc/net/ip_tables_\$kind
		[ \$family = 6 ] && list=/proc/net/ip6_tables_\$kind
		grep -qx "\$clause" \$list || echo "@@ failed \$clause is not in \$list"
	done
done
export LD_LIBRARY_PATH=/z/lib LD_PRELOAD=/z/test-preload/zunder_fixed_protocols.so
for entry in$clause_words; do
	clause=\${entry%%:*}
	run_rows /z/bin/zunder --kernel \$clause /rows/\$clause /tmp
done
start=\$(date +%s)
/z/bin/packet_judge /z/bin/zunder /cases/*.cases >/tmp/packets 2>&1
echo "status \$? in \$((\$(date +%s) - start)) s" >>/tmp/packets
/z/bin/packet_judge --disagree /z/bin/zunder /cases/wrong/*.cases >>/tmp/packets 2>&1
echo "status \$?" >>/tmp/packets
sed 's/^/@@ packets /' /tmp/packets
echo "@@@ end"
poweroff -f
EOF
chmod +x "$root/init" "$root/run-rows"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"

# --- Boot ---------------------------------------------------------------------

start=$(date +%s)
status=0
timeout -k 5 "$bound" qemu-system-arm -M virt -cpu cortex-a15 -m 512 -nographic -no-reboot -nic none \
	-kernel "$kernel_tree/boot/vmlinuz-$kernel_release" -initrd "$work/initrd.gz" \
	-append "console=ttyAMA0 loglevel=1 panic=-1" </dev/null >"$work/console.log" 2>&1 || status=$?
boot_seconds=$(($(date +%s) - start))
tr -d '\r' <"$work/console.log" | sed -n '/^@@@ begin$/,/^@@@ end$/p' >"$work/armhf.out"
if ! grep -qx '@@@ end' "$work/armhf.out"; then
	tail -n 30 "$work/console.log" >&2
	if [[ $status -eq 124 || $status -eq 137 ]]; then
		failed "the armhf machine did not finish within $bound s"
	fi
	failed "the armhf machine stopped before the end (qemu exit status $status)"
fi
if grep '^@@ failed ' "$work/armhf.out" >&2; then
	failed "the packet filter's modules did not all load or register in $kernel_release"
fi

# --- The same rows natively ---------------------------------------------------

native_mode=--kernel
[[ $(id -u) -eq 0 ]] || native_mode=""
(
	. "$root/run-rows"
	export LD_PRELOAD=$native_build/test-preload/zunder_fixed_protocols.so
	for row in "${clauses[@]}"; do
		read -r clause _ <<<"$row"
		run_rows "$native_build/bin/zunder" "$native_mode" "$clause" "$work/native-rows/$clause" "$work"
	done
) >"$work/native.out"

# One line a rule: clause, row number, exit status, then its output lines
# (or its messages) joined by " | ".  Without root here, the native rules
# have no kernel line, and the armhf ones are compared without theirs.
records() { # FILE DROP_KERNEL_LINES
	awk -v drop_kernel="$2" '
	function flush() {
		if (open)
			printf "%s\t%d\t%d\t%s\n", clause, n, status, status == 0 ? text : errors
		open = 0
		text = errors = ""
	}
	/^@@@ / || /^@@ kernel / || /^@@ packets / { next }
	/^@@ batch / { flush(); clause = $3; mode = "batch"; n = $4 - 1; next }
	/^@@ rule / { flush(); clause = $3; mode = "single"; n = $4; status = $6; open = 1; next }
	/^@@ err / { errors = errors (errors == "" ? "" : " | ") substr($0, 8); next }
	mode == "batch" && /^block / { flush(); n++; status = 0; open = 1 }
	drop_kernel && /^kernel / { next }
	{ text = text (text == "" ? "" : " | ") $0 }
	END { flush() }' "$1"
}
records "$work/armhf.out" "$([[ -n $native_mode ]] && echo 0 || echo 1)" >"$work/armhf.records"
records "$work/native.out" 0 >"$work/native.records"

# Each rule with both sides' records; every refusal or difference is
# written out with what each kernel said.  Prints "ACCEPTED DIFFERENT".
for row in "${clauses[@]}"; do
	read -r clause _ <<<"$row"
	awk -F'\037' -v clause="$clause" '{ printf "%s\t%d\t%s%szunder %s\n", clause, NR, \
		$1 == "" ? "" : "env ", $1 == "" ? "" : $1 " ", $2 }' "$work/$clause.list"
done >"$work/rules"
read -r accepted different < <(awk -F'\t' -v armhf_kernel="armhf kernel $kernel_release" \
	-v native_kernel="native kernel $(uname -r)" '
	function said(record, fields) {
		if (record == "")
			return "no result"
		split(record, fields, "\t")
		sub(/^[^\t]*\t[^\t]*\t[^\t]*\t/, "", record)
		return fields[3] == 0 ? "accepted: " record : "refused (exit status " fields[3] "): " record
	}
	FILENAME == ARGV[1] { armhf[$1 FS $2] = $0; next }
	FILENAME == ARGV[2] { native[$1 FS $2] = $0; next }
	{
		a = armhf[$1 FS $2]
		b = native[$1 FS $2]
		split(a, fields, "\t")
		ok = a != "" && fields[3] == 0
		accepted += ok
		different += a != b
		if (ok && a == b)
			next
		rule = $0
		sub(/^[^\t]*\t[^\t]*\t/, "", rule)
		printf "%s row %d: %s\n  %s: %s\n  %s: %s\n", $1, $2, rule, armhf_kernel, said(a),
			native_kernel, said(b) >"/dev/stderr"
	}
	END { print accepted + 0, different + 0 }' "$work/armhf.records" "$work/native.records" "$work/rules")

verdict="same blocks"
((different == 0)) || verdict="$different different from native"
[[ -n $native_mode ]] || verdict+=" (native without --kernel: not root)"
echo "armhf kernel $kernel_release: $rule_count rules, $accepted accepted, $verdict" \
	"(package $kernel_version, machine ${boot_seconds} s, $SECONDS s in all)"

# --- The packet judge on both kernels -----------------------------------------

# In the machine: the cases that disagree, the summary, each run's status.
sed -n 's/^@@ packets //p' "$work/armhf.out" >"$work/packets.out"
grep -v '^status ' "$work/packets.out" | sed '/^packets on /s/$/ (in the machine)/'
# Status 0 only when every case ran and agreed (or, corrupted, disagreed).
packets_ok=1
[[ $(grep -c '^status 0' "$work/packets.out") -eq 2 ]] || packets_ok=0
sed -n 's/^status 0 in \(.*\)/armhf packet cases ran in \1/p' "$work/packets.out"
if [[ $(id -u) -eq 0 ]]; then
	native_start=$SECONDS
	status=0
	"$native_build/bin/packet_judge" "$native_build/bin/zunder" "${packet_tables[@]}" || status=$?
	echo "native packet cases ran in $((SECONDS - native_start)) s"
	# Here cases the kernel cannot set up are skipped (77) with their reason.
	[[ $status -eq 0 || $status -eq 77 ]] || packets_ok=0
else
	echo "native packet cases skipped: not root"
fi
((accepted == rule_count && different == 0 && packets_ok)) || exit 1
