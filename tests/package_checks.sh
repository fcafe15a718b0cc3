#!/usr/bin/env bash
# What users install: the Debian package run from a scratch root, the Windows zip's files,
# the manual page rendered with warnings on, and the bash completion. Exits nonzero on any fault.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
work=$(mktemp -d /tmp/tavboot-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
version=$(sed -n 's/^project(tavboot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
failed=0

fail() {
    echo "FAILED: $*"
    failed=1
}

# 1 when the executable carries debug information or names a folder of the build machine.
carries_build_details() {
    local objdump=$1 file=$2
    "$objdump" -h "$file" | grep -q '\.debug_' && return 0
    grep -qaF "$PWD/" "$file"
}

debian_package() {
    cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release >/dev/null &&
        cmake --build build-deb -j"$jobs" --target tavboot >/dev/null &&
        rm -f build-deb/tavboot_*.deb &&
        (cd build-deb && cpack -G DEB >/dev/null 2>&1) || {
        fail "building the Debian package"
        return
    }
    local deb
    deb=$(echo build-deb/tavboot_"$version"_*.deb)
    echo "$deb: Depends: $(dpkg-deb -f "$deb" Depends)"
    [[ $(dpkg-deb -f "$deb" Depends) == *libc6* && $(dpkg-deb -f "$deb" Depends) == *libstdc++6* ]] ||
        fail "the package does not depend on the C and C++ libraries"
    dpkg-deb -x "$deb" "$root" || fail "unpacking $deb"
    local file
    for file in bin/tavboot share/man/man1/tavboot.1 share/bash-completion/completions/tavboot \
        share/doc/tavboot/README.md share/doc/tavboot/docs/performance.md \
        share/doc/tavboot/examples/sample.hex share/doc/tavboot/examples/sample.tvk; do
        [[ -f $root/usr/$file ]] || fail "the package lacks /usr/$file"
    done
    carries_build_details objdump "$root/usr/bin/tavboot" && fail "the packaged tavboot is not stripped"
    local said
    said=$("$root/usr/bin/tavboot" --version)
    [[ $said == "tavboot $version" ]] || fail "the packaged tavboot says \"$said\", the package is $version"
    if (cd "$work" && "$root/usr/bin/tavboot" demo >"$work/demo" 2>&1); then
        tail -n 1 "$work/demo"
    else
        cat "$work/demo"
        fail "tavboot demo from the package"
    fi
}

# The zip is made in $TAVBOOT_ZIP_BUILD when set (a release build already made), else in build-zip.
windows_zip() {
    local build=${TAVBOOT_ZIP_BUILD:-build-zip}
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        >/dev/null &&
        cmake --build "$build" -j"$jobs" --target tavboot tavboot-gui >/dev/null &&
        rm -f "$build"/tavboot-*.zip &&
        (cd "$build" && cpack -G ZIP >/dev/null) || {
        fail "building the Windows zip"
        return
    }
    local zip=$build/tavboot-$version-win64.zip folder=tavboot-$version-win64
    unzip -l "$zip"
    local expected listed
    expected=$(printf "$folder/%s\n" README.txt sample.hex sample.tvk tavboot-gui.exe tavboot.exe)
    listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
    [[ $listed == "$expected" ]] || fail "the zip holds other files than: $expected"
    unzip -q "$zip" -d "$work/zip" || return
    local exe
    for exe in tavboot-gui.exe tavboot.exe; do
        carries_build_details x86_64-w64-mingw32-objdump "$work/zip/$folder/$exe" &&
            fail "$exe in the zip is not a stripped release build"
    done
    # The version resource's texts are UTF-16: only tavboot.exe carries one, with this version.
    local texts
    texts=$(strings -el "$work/zip/$folder/tavboot.exe")
    [[ $texts == *VS_VERSION_INFO*FileVersion*$'\n'"$version"$'\n'* ]] ||
        fail "tavboot.exe has no version resource of $version"
    strings -el "$work/zip/$folder/tavboot-gui.exe" | grep -q VS_VERSION_INFO &&
        fail "tavboot-gui.exe carries a version resource"
    cmp -s dist/README-windows.txt "$work/zip/$folder/README.txt" || fail "README.txt is not dist/README-windows.txt"
}

manual_page() {
    local warnings
    warnings=$(groff -man -ww -z dist/tavboot.1 2>&1)
    warnings+=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l dist/tavboot.1 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "the manual page renders with warnings: $warnings"
    grep -q "^\.TH TAVBOOT 1 [0-9-]* \"tavboot $version\"" dist/tavboot.1 || fail "the manual page is not of $version"
}

# Completion of the packaged tavboot, from its packaged script, in a bash without start-up files.
completion() {
    mkdir -p "$work/images/folder" && touch "$work/images/fw.hex" "$work/images/fw.tvk" "$work/images/fw.txt"
    # A stand-in for `tavboot ports`: tab-separated fields, the port first.
    printf '#!/bin/sh\nprintf "/dev/ttyUSB0\\tftdi_sio\\t0403:6001\\n/dev/ttyS0\\t-\\t-\\n"\n' >"$work/ports-stub"
    chmod +x "$work/ports-stub"
    local answers
    answers=$(cd "$work/images" && PATH="$root/usr/bin:$PATH" bash --norc --noprofile -c '
        source "$1" || exit 1
        complete -p tavboot >/dev/null || exit 1
        complete_line() {
            COMP_WORDS=("$@")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMPREPLY=()
            _tavboot
            echo "${COMP_WORDS[*]} -> ${COMPREPLY[*]}"
        }
        complete_line tavboot dow
        complete_line tavboot simulate --unl
        complete_line tavboot download --ports-f
        complete_line tavboot inspect fw
        complete_line "$2" download --port ""
    ' _ "$root/usr/share/bash-completion/completions/tavboot" "$work/ports-stub")
    echo "$answers"
    local expected="tavboot dow -> download
tavboot simulate --unl -> --unlock-key
tavboot download --ports-f -> --ports-from
tavboot inspect fw -> fw.hex fw.tvk
$work/ports-stub download --port  -> /dev/ttyUSB0 /dev/ttyS0"
    [[ $answers == "$expected" ]] || fail "completion; expected:
$expected"
}

# Every check, or those named (the completion is of the unpacked package).
for check in "${@:-debian_package windows_zip manual_page completion}"; do
    for part in $check; do "$part"; done
done
exit $failed
