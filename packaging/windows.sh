# The Windows build, sourced by `./setup.sh windows` (which has installed the
# packages and defines ROOT, JOBS, step, die and build_preset):
#
#   1. the Qt SDK for 64-bit Windows: $QT_MINGW_PREFIX, or
#      ../shared/toolchains/qt5.15.8-mingw64.tar.xz unpacked into build-win/
#   2. the cross build of the Release with the tests in build-win/, and the
#      zip and the installer made by CPack from the install rules
#      (packaging/windows.cmake)
#   3. in a fresh Wine prefix (build-win/wineprefix): the zip unpacked to
#      C:\, servo-cli.exe --help and servo-tool.exe (offscreen; and on the
#      windows platform under Xvfb) started from there, then every test
#      program through CTest under Wine
#   4. the serial line: servo-sim (Linux) on a pseudo-terminal that the Wine
#      prefix knows as COM7, and servo-cli.exe reading, writing and comparing
#      through it (see serial_through_wine)
#   5. the installer, in a fresh prefix of its own (build-win/wineprefix-setup):
#      installed silently, its files, shortcut, uninstall entry and the
#      programs' resources checked, the programs started, then uninstalled
#      silently, leaving nothing behind (see windows_installer)

SDK_TARBALL=$ROOT/../shared/toolchains/qt5.15.8-mingw64.tar.xz
SDK_TOOLCHAIN=$ROOT/../shared/toolchains/mingw64.cmake
WIN_BUILD=$ROOT/build-win
WIN_PREFIX=$WIN_BUILD/wineprefix
# Windows programs on the offscreen platform take their fonts from a folder.
# Liberation has the metrics of Arial, Times New Roman and Courier New, the
# faces a Windows desktop has.
WIN_FONTS=/usr/share/fonts/truetype/liberation # fonts-liberation
WINDOW_TITLE="Vantrel Servo Tool V1.10"

# What the zip holds, below its top folder; nothing more, nothing less.
ZIP_FILES="README.txt
Qt5Core.dll
Qt5Gui.dll
Qt5SerialPort.dll
Qt5Widgets.dll
imageformats/qjpeg.dll
libgcc_s_seh-1.dll
libstdc++-6.dll
libwinpthread-1.dll
platforms/qwindows.dll
servo-cli.exe
servo-sim.exe
servo-tool.exe
styles/qwindowsvistastyle.dll"

export WINEDEBUG=-all

# Wine 10, from a Debian 13 root kept in the user's cache (wine10-root.sh);
# empty when the host's Wine runs the programs.
WINE_ROOT=
WINE_ROOT_MOUNTS=()

# Host folders the Windows programs need inside the root, at the same paths:
# the clone (build, prefix, helpers), the compiler's runtime DLLs that
# wine-run puts on WINEPATH, the fonts, and /tmp (TMPDIR, the X server's
# sockets).
wine_root_binds() {
    printf '%s\n' "$ROOT" /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32 "$WIN_FONTS" /tmp
    case "$SDK/" in "$ROOT"/*) ;; *) printf '%s\n' "$SDK" ;; esac
}

wine_root_leave() {
    local i
    for ((i = ${#WINE_ROOT_MOUNTS[@]} - 1; i >= 0; i--)); do
        umount -l "${WINE_ROOT_MOUNTS[i]}" 2>/dev/null || true
    done
    WINE_ROOT_MOUNTS=()
}

wine_root_mount() { # mount arguments..., mount point last
    local target=${*: -1}
    mkdir -p "$target"
    mount "$@" || die "cannot mount $target"
    WINE_ROOT_MOUNTS+=("$target")
}

# Makes the root (once; later runs reuse it) and mounts what the programs
# need in it, until this script exits. `wine`, `wineserver` and `wineboot`
# then run there, for this script and for ctest (wrappers first on PATH).
# Without root rights or debootstrap, says so and stays with the host's Wine.
windows_wine() {
    step "Wine 10: a Debian 13 root with Wine 10 (packaging/wine10-root.sh)"
    local start=$SECONDS rc=0 dir
    if [ "$(id -u)" -ne 0 ]; then
        echo "wine10-root.sh: not run: entering a root needs root rights (mount, chroot)" >&2
        rc=3
    else
        dir=$("$ROOT/packaging/wine10-root.sh" dir) || rc=$?
    fi
    if [ $rc -ne 0 ]; then
        [ $rc -eq 3 ] || die "cannot make the Wine 10 root"
        echo "!! No Wine 10 root here (above); the Windows programs run under the host's $(wine --version 2>/dev/null)."
        echo "!! It cannot read COM ports, so the tests that need the servo programmer's line are skipped."
        return 0
    fi
    echo "root: $dir ($((SECONDS - start)) s)"
    WINE_ROOT=$dir
    trap wine_root_leave EXIT
    wine_root_mount -t proc proc "$WINE_ROOT/proc"
    wine_root_mount --bind /dev "$WINE_ROOT/dev"
    wine_root_mount --bind /dev/pts "$WINE_ROOT/dev/pts"
    local bind
    while read -r bind; do
        [ -d "$bind" ] && wine_root_mount --bind "$bind" "$WINE_ROOT$bind"
    done < <(wine_root_binds)
    local wrappers=$WIN_BUILD/wine10-bin program
    rm -rf "$wrappers"
    mkdir -p "$wrappers"
    for program in wine wineserver wineboot; do
        # Without TMPDIR: given one, Wine 10 notes its server's folder in the
        # prefix, and every later start reading that note aborts ("free():
        # invalid pointer").
        cat >"$wrappers/$program" <<WRAPPER
#!/bin/sh
# $program of the Wine 10 root $WINE_ROOT, in the current folder.
exec env -u TMPDIR chroot "$WINE_ROOT" /bin/sh -c 'cd "\$1" 2>/dev/null || cd /; shift; exec "\$@"' sh "\$PWD" /usr/bin/$program "\$@"
WRAPPER
        chmod +x "$wrappers/$program"
    done
    PATH=$wrappers:$PATH
    export PATH
    hash -r
    wine --version >/dev/null 2>&1 || die "Wine does not run in $WINE_ROOT"
    echo "Windows programs run under $(wine --version) in $WINE_ROOT"
}

# Test helpers for the serial line, built for Linux: ptymodem.so (preloaded
# into Wine, see tests/wine/ptymodem.c) and ptypair (pairs of COM ports for
# the tests, see tests/testline.h).
windows_line_helpers() {
    gcc -std=c11 -O2 -Wall -Wextra -shared -fPIC -o "$WIN_BUILD/ptymodem.so" "$ROOT/tests/wine/ptymodem.c" -ldl ||
        die "cannot build ptymodem.so"
    gcc -std=c11 -O2 -Wall -Wextra -o "$WIN_BUILD/ptypair" "$ROOT/tests/wine/ptypair.c" || die "cannot build ptypair"
}
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer in a fresh prefix

# Z:\ is the Unix root in every Wine prefix.
winpath() {
    printf 'Z:%s' "$1"
}

windows_sdk() {
    if [ -n "${QT_MINGW_PREFIX:-}" ]; then
        [ -f "$QT_MINGW_PREFIX/lib/cmake/Qt5/Qt5Config.cmake" ] ||
            die "QT_MINGW_PREFIX=$QT_MINGW_PREFIX is not a Qt SDK (no lib/cmake/Qt5/Qt5Config.cmake)"
        SDK=$(cd "$QT_MINGW_PREFIX" && pwd)
    elif [ -f "$SDK_TARBALL" ]; then
        SDK=$WIN_BUILD/qt5.15.8-mingw64
        if [ ! -f "$SDK/.unpacked" ] || [ "$SDK_TARBALL" -nt "$SDK/.unpacked" ]; then
            step "unpack $(basename "$SDK_TARBALL") into build-win/"
            rm -rf "$SDK"
            mkdir -p "$WIN_BUILD"
            tar -xf "$SDK_TARBALL" -C "$WIN_BUILD" || die "cannot unpack $SDK_TARBALL"
            touch "$SDK/.unpacked"
        fi
    else
        die "no Qt SDK for Windows: set QT_MINGW_PREFIX to an unpacked qt5.15.8-mingw64 folder, or put qt5.15.8-mingw64.tar.xz and mingw64.cmake into ../shared/toolchains/ beside this checkout"
    fi
    TOOLCHAIN=$SDK_TOOLCHAIN
    [ -f "$TOOLCHAIN" ] || TOOLCHAIN=$SDK/mingw64.cmake
    [ -f "$TOOLCHAIN" ] || die "no mingw64.cmake toolchain file beside the SDK"
    echo "SDK: $SDK"
    echo "toolchain file: $TOOLCHAIN"
}

windows_build() {
    build_preset windows -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DQT_MINGW_PREFIX="$SDK"
    step "zip and installer (cpack)"
    rm -f "$WIN_BUILD"/servo-tool-*-win64.zip "$WIN_BUILD"/servo-tool-*-win64.exe
    (cd "$WIN_BUILD" && cpack -G "ZIP;NSIS") || die "cpack failed"
    ZIP=$(ls "$WIN_BUILD"/servo-tool-*-win64.zip)
    SETUP=$(ls "$WIN_BUILD"/servo-tool-*-win64.exe)
    ls -l "$SETUP"
    local top
    top=$(basename "$ZIP" .zip)
    local listed
    listed=$(unzip -Z1 "$ZIP" | grep -v '/$' | sed "s|^$top/||" | LC_ALL=C sort)
    if [ "$listed" != "$(printf '%s\n' "$ZIP_FILES" | LC_ALL=C sort)" ]; then
        diff <(printf '%s\n' "$ZIP_FILES" | LC_ALL=C sort) <(printf '%s\n' "$listed") >&2 || true
        die "the zip does not hold what it should (< expected, > found)"
    fi
    unzip -l "$ZIP"
}

# Starts the prefix's wineserver to stay until stop_prefix, its output
# dropped: Wine 10 lets the server take a COM port's pseudo-terminal as its
# terminal, and it lists every object it holds each time such a line hangs up
# (thousands of lines per test row).
start_prefix() {
    stop_prefix
    WINEPREFIX=$WIN_PREFIX wineserver -p >/dev/null 2>&1 || die "wineserver -p failed"
    # The prefix's services start with its first program; a program that
    # ends while they are still starting can wait for them long after.
    WINEPREFIX=$WIN_PREFIX timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
}

# Stops what runs in our prefix and waits until its wineserver is gone.
stop_prefix() {
    WINEPREFIX=$WIN_PREFIX wineserver -k 2>/dev/null || true
    WINEPREFIX=$WIN_PREFIX wineserver -w 2>/dev/null || true
}

# Makes $WIN_PREFIX.
boot_prefix() {
    local log=$WIN_BUILD/wineboot.log
    WINEPREFIX=$WIN_PREFIX wineboot -i >"$log" 2>&1 || { tail -n 20 "$log" >&2; die "wineboot failed (log: $log)"; }
}

windows_fresh_prefix() {
    step "fresh Wine prefix build-win/wineprefix, zip unpacked to C:\\"
    stop_prefix
    rm -rf "$WIN_PREFIX"
    boot_prefix
    unzip -q "$ZIP" -d "$WIN_PREFIX/drive_c" || die "cannot unpack $ZIP"
    APP=$WIN_PREFIX/drive_c/$(basename "$ZIP" .zip)
}

# Starts servo-tool.exe from $APP with the given variables,
# waits until `shown` (a command) succeeds, then stops it.
run_window_until_shown() {
    local log=$1 shown=$2
    shift 2
    (cd "$APP" && exec env WINEPREFIX="$WIN_PREFIX" "$@" wine ./servo-tool.exe) >"$log" 2>&1 &
    local pid=$! seen=no i
    for i in $(seq 120); do
        if eval "$shown"; then
            seen=yes
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    stop_prefix
    [ "$seen" = yes ]
}

# servo-cli.exe --help and servo-tool.exe on the offscreen platform, from
# $APP in $WIN_PREFIX; `where` names the folder in the messages.
cli_and_offscreen_window() {
    local where=$1
    step "servo-cli.exe --help from $where"
    local out
    out=$(cd "$APP" && WINEPREFIX=$WIN_PREFIX wine ./servo-cli.exe --help) || die "servo-cli.exe --help failed"
    printf '%s\n' "$out" | sed -n 1,3p
    printf '%s\n' "$out" | grep -q '^Usage: servo-cli' || die "servo-cli.exe --help printed no usage"
    stop_prefix

    # The offscreen platform is not deployed; Qt takes it from the SDK.
    # Painting is logged, and the first flush of the main window shows that
    # it is on the (offscreen) screen.
    step "servo-tool.exe from $where, offscreen, until the window is painted"
    local log=$WIN_BUILD/servo-tool-offscreen.log
    run_window_until_shown "$log" "grep -q 'Flushing .* of Widget(0x[0-9a-f]*, name=\"Widget\")' '$log'" \
        WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_PLATFORM_PLUGIN_PATH="$(winpath "$SDK/plugins/platforms")" \
        WINEQT_QPA_FONTDIR="$(winpath "$WIN_FONTS")" WINEQT_FORCE_STDERR_LOGGING=1 \
        WINEQT_LOGGING_RULES="qt.widgets.painting=true" ||
        { tail -n 20 "$log" >&2; die "servo-tool.exe did not show its window offscreen (log: $log)"; }
    grep -m1 'Flushing .* of Widget(' "$log"
}

# An X server of our own: start_xvfb sets XVFB_DISPLAY (":N") and XVFB_PID.
start_xvfb() {
    local number=$WIN_BUILD/xvfb-display i
    rm -f "$number" # a number left from before would be read before Xvfb writes its own
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" 2>/dev/null &
    XVFB_PID=$!
    for i in $(seq 50); do
        [ -s "$number" ] && break
        sleep 0.2
    done
    [ -s "$number" ] || die "Xvfb did not start"
    XVFB_DISPLAY=:$(cat "$number")
}

stop_xvfb() {
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
}

windows_programs() {
    cli_and_offscreen_window "C:\\$(basename "$APP")"
    local log

    # The deployed platform plugin and style, on an X server of its own.
    step "servo-tool.exe on the windows platform under Xvfb, until its window is mapped"
    log=$WIN_BUILD/servo-tool-xvfb.log
    start_xvfb
    local display=$XVFB_DISPLAY ok=yes
    run_window_until_shown "$log" "xwininfo -display $display -root -tree | grep -q '\"$WINDOW_TITLE\"'" \
        DISPLAY="$display" || ok=no
    stop_xvfb
    [ $ok = yes ] ||
        { tail -n 20 "$log" >&2; die "servo-tool.exe did not map a window titled \"$WINDOW_TITLE\" (log: $log)"; }
    echo "a window titled \"$WINDOW_TITLE\" was mapped on $display"
}

windows_tests() {
    step "every test program under Wine (offscreen)"
    local log=$WIN_BUILD/ctest-wine.log rc=0
    local line=()
    # Under Wine 10 the tests play the servo programmer on pairs of COM
    # ports made by ptypair (tests/testline.h), read through the preload.
    [ -z "$WINE_ROOT" ] || line=(SERVO_PTYPAIR="$WIN_BUILD/ptypair" LD_PRELOAD="$WIN_BUILD/ptymodem.so")
    start_prefix
    (cd "$WIN_BUILD" && env WINEPREFIX="$WIN_PREFIX" QT_QPA_FONTDIR="$(winpath "$WIN_FONTS")" "${line[@]}" \
        ctest --output-on-failure -V) >"$log" 2>&1 || rc=$?
    stop_prefix
    grep -E '^[0-9]+: (Totals|\*+ Start testing)' "$log" | sed -E 's/^[0-9]+: //; s/\*+ Start testing of (.*) \*+/\1/' |
        paste - - | awk -F'\t' '{ print "  " $1 ": " $2 }'
    grep -E '^[0-9]+: FAIL!' "$log" >&2 || true
    grep -E '^[0-9]+: XFAIL' "$log" | sed -E 's/^[0-9]+: XFAIL *: /  expected to fail here: /' || true
    grep -E '^[0-9]+: SKIP' "$log" | sed -E 's/^[0-9]+: SKIP *: [A-Za-z]+::[A-Za-z_0-9]+(\([^)]*\))? //' |
        sort | uniq -c | sed 's/^/  skipped: /'
    [ $rc -eq 0 ] || die "tests failed under Wine (log: $log)"
}

# The window on the windows platform under Xvfb, as a Windows user has it
# (Wine 10 only): tst_serial's againstSimulator rows choose the COM port that
# servo-sim.exe's pair offers in the port list, Read, change values, Write and
# Read back; tst_files' systemDialogs saves and opens through Windows' own
# file dialogs.
windows_window_serial() {
    [ -n "$WINE_ROOT" ] || return 0
    step "the window on the windows platform under Xvfb: COM port, Read, Write, Read back; Save and Open"
    local log=$WIN_BUILD/window-windows.log rc=0
    start_xvfb
    : >"$log"
    DISPLAY=$XVFB_DISPLAY start_prefix # its desktop on that display
    local run
    for run in "tst_serial againstSimulator" "tst_files systemDialogs"; do
        set -- $run
        (cd "$WIN_BUILD/bin" && env WINEPREFIX="$WIN_PREFIX" DISPLAY="$XVFB_DISPLAY" \
            SERVO_PTYPAIR="$WIN_BUILD/ptypair" LD_PRELOAD="$WIN_BUILD/ptymodem.so" \
            timeout 300 "$SDK/bin/wine-run" "./$1.exe" "$2" -platform windows) >>"$log" 2>&1 || rc=$?
    done
    stop_xvfb
    stop_prefix
    grep -E '^(PASS|FAIL|SKIP|Totals)|^   (Actual|Expected)' "$log" | grep -v 'Case()$' | sed 's/^/  /'
    [ $rc -eq 0 ] && ! grep -q '^SKIP' "$log" || die "the window on the windows platform failed (log: $log)"
}

# servo-sim (Linux) on a pseudo-terminal that it links into the prefix as
# COM7, listed like a real port; servo-cli.exe reads, writes and compares
# through it. A pseudo-terminal refuses the modem-line query that Wine's wait
# for received characters makes; tests/wine/ptymodem.c, preloaded, answers
# it. Under the host's Wine 8, which cannot read a COM port, commwait.exe
# (tests/wine/commwait.c) tells whether Wine is the reason (reported, not
# failed) or not (failed).
serial_through_wine() {
    step "serial line: servo-sim (Linux) as COM7 of the Wine prefix, servo-cli.exe through it"
    local sim=$ROOT/build/bin/servo-sim
    if [ ! -x "$sim" ]; then
        step "build servo-sim for Linux in build/"
        cmake --preset release >/dev/null || die "cannot configure build/"
        cmake --build --preset release --parallel "$JOBS" --target servo-sim || die "cannot build servo-sim"
    fi
    x86_64-w64-mingw32-gcc-posix -std=c11 -O2 -Wall -Wextra -o "$WIN_BUILD/commwait.exe" \
        "$ROOT/tests/wine/commwait.c" || die "cannot build commwait.exe"

    local simlog=$WIN_BUILD/servo-sim.log simout=$WIN_BUILD/servo-sim.out com7=$WIN_PREFIX/dosdevices/com7
    "$sim" --verbose --link "$com7" >"$simout" 2>"$simlog" &
    local simpid=$! i
    for i in $(seq 50); do
        [ -s "$simout" ] && break
        sleep 0.2
    done
    local pty
    pty=$(head -n 1 "$simout")
    case "$pty" in /dev/pts/*) ;; *) kill "$simpid"; die "servo-sim did not start" ;; esac
    echo "servo-sim serves $pty, linked as $com7"
    # Listed where the system keeps its serial ports, as a driver would; the
    # key lasts while the prefix's wineserver runs (-p: until stop_prefix).
    start_prefix
    WINEPREFIX=$WIN_PREFIX wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\ServoSim' /d COM7 /f >/dev/null ||
        die "cannot list COM7 in the prefix"

    local failed=no
    wine_cli() {
        (cd "$APP" && WINEPREFIX=$WIN_PREFIX LD_PRELOAD=$WIN_BUILD/ptymodem.so timeout 30 wine ./servo-cli.exe "$@")
    }
    local ports
    ports=$(wine_cli ports 2>&1) || true
    printf '%s\n' "$ports"
    printf '%s\n' "$ports" | grep -q '^COM7 ' || { echo "!! COM7 is not listed" >&2; failed=yes; }

    local sample=$WIN_BUILD/serial-sample.txt
    printf '%s' "100,50,20,10,900,2100,2,1500,399,128,128,1,0,1" >"$sample"
    local rc=0 out
    out=$(wine_cli read --port COM7 --json --timeout 3000 --retries 1 2>&1) || rc=$?
    printf '%s\n' "$out"
    if [ $rc -eq 0 ]; then
        rc=0
        wine_cli write --port COM7 "$(winpath "$sample")" || rc=$?
        wine_cli diff --port COM7 "$(winpath "$sample")" || rc=$?
        [ $rc -eq 0 ] || { echo "!! write or diff through COM7 failed" >&2; failed=yes; }
        [ $rc -ne 0 ] || echo "servo-cli.exe read, write and diff through COM7: all passed"
    elif [ -n "$WINE_ROOT" ]; then
        echo "!! servo-cli.exe cannot read through COM7 under $(wine --version)" >&2
        failed=yes
    else
        echo "servo-cli.exe read through COM7 failed (exit $rc$([ $rc -eq 124 ] && echo ': stopped after 30 s')); servo-sim received:"
        grep -E ' rx ' "$simlog" | head -n 3 | sed 's/^/  /' || echo "  nothing"
        stop_prefix
        local why
        rc=0
        why=$(cd "$WIN_BUILD" && WINEPREFIX=$WIN_PREFIX LD_PRELOAD=$WIN_BUILD/ptymodem.so timeout 60 wine ./commwait.exe COM7 2>&1) ||
            rc=$?
        printf '%s\n' "$why" | sed 's/^/  commwait: /'
        if [ $rc -eq 1 ]; then
            echo "Wine $(wine --version 2>/dev/null) does not wait for received characters the way Qt's serial"
            echo "port needs (above), so programs on Windows cannot read a COM port under it; see README.md."
        else
            echo "!! Wine waits as Windows does, yet servo-cli.exe could not read" >&2
            failed=yes
        fi
    fi
    kill "$simpid" 2>/dev/null || true
    for i in $(seq 50); do
        kill -0 "$simpid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
    rm -f "$com7"
    WINEPREFIX=$WIN_PREFIX wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\ServoSim' /f >/dev/null 2>&1 || true
    stop_prefix
    [ $failed = no ] || die "the serial line through Wine failed (servo-sim log: $simlog)"
}

# Where the installer puts things, and the key of its uninstall entry (the
# application id, packaging/windows.cmake).
SETUP_FOLDER="Program Files/Servo Tool"
SETUP_FOLDER_WIN='C:\Program Files\Servo Tool'
SETUP_SHORTCUT="ProgramData/Microsoft/Windows/Start Menu/Programs/Servo Tool/Servo Tool.lnk"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\org.servotool.ServoTool'
VENDOR_KEY='HKLM\Software\Servo Tool developers'

# Lists everything below C:\ but the temporary folders (Wine 8 and Wine 10
# keep the user's in different places; an NSIS uninstaller
# runs from a copy of itself there, which Windows removes on the next start).
drive_c_listing() {
    (cd "$WIN_PREFIX/drive_c" && find . | grep -v -e '^\./users/[^/]*/Temp/' -e '^\./users/[^/]*/AppData/Local/Temp/' -e '^\./windows/temp/' | LC_ALL=C sort)
}

# The icon in servo-tool.exe (every image of the drawn .ico) and the version
# information of each program, read back from the installed files.
installed_resources() {
    local version=$1 exe rc
    for exe in servo-cli servo-sim servo-tool; do # servo-tool's resources stay in rc
        rc=$(x86_64-w64-mingw32-windres -i "$APP/$exe.exe" -O rc) || die "cannot read the resources of $exe.exe"
        grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$rc" ||
            die "$exe.exe has no version information $version"
    done
    local images
    images=$(od -An -tu2 -j4 -N2 "$ROOT/packaging/windows/servo-tool.ico" | tr -d ' ')
    grep -A2 '"IDI_ICON1" 14' <<<"$rc" | grep -q "Has $images elements" ||
        die "servo-tool.exe does not hold the $images images of packaging/windows/servo-tool.ico"
    echo "servo-tool.exe: icon IDI_ICON1 with $images images; version $version in all three programs"
}

windows_installer() {
    local version
    version=$(basename "$SETUP" -win64.exe)
    version=${version#servo-tool-}
    WIN_PREFIX=$WIN_BUILD/wineprefix-setup
    step "installer $(basename "$SETUP") with /S in a fresh Wine prefix (build-win/wineprefix-setup)"
    stop_prefix
    rm -rf "$WIN_PREFIX"
    boot_prefix
    local before
    before=$(drive_c_listing)
    WINEPREFIX=$WIN_PREFIX timeout 300 wine "$SETUP" /S || die "the installer failed"
    WINEPREFIX=$WIN_PREFIX timeout 300 wineserver -w

    APP=$WIN_PREFIX/drive_c/$SETUP_FOLDER
    local listed
    listed=$(cd "$APP" 2>/dev/null && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    if [ "$listed" != "$(printf '%s\nUninstall.exe\n' "$ZIP_FILES" | LC_ALL=C sort)" ]; then
        diff <(printf '%s\nUninstall.exe\n' "$ZIP_FILES" | LC_ALL=C sort) <(printf '%s\n' "$listed") >&2 || true
        die "$SETUP_FOLDER_WIN does not hold what it should (< expected, > found)"
    fi
    echo "$SETUP_FOLDER_WIN: $(printf '%s\n' "$listed" | wc -l) files, as in the zip, and Uninstall.exe"
    local shortcut=$WIN_PREFIX/drive_c/$SETUP_SHORTCUT
    [ -f "$shortcut" ] || die "no Start-menu shortcut C:/$SETUP_SHORTCUT"
    grep -aqF "$SETUP_FOLDER_WIN\\servo-tool.exe" "$shortcut" ||
        die "the Start-menu shortcut does not start $SETUP_FOLDER_WIN\\servo-tool.exe"
    echo "C:/$SETUP_SHORTCUT -> $SETUP_FOLDER_WIN\\servo-tool.exe"
    local entry
    entry=$(WINEPREFIX=$WIN_PREFIX wine reg query "$UNINSTALL_KEY" | tr -d '\r') ||
        die "no uninstall entry $UNINSTALL_KEY"
    printf '%s\n' "$entry" | grep -v '^$'
    local name expected found
    for name in DisplayName DisplayVersion UninstallString DisplayIcon; do
        case $name in
        DisplayName) expected="Servo Tool" ;;
        DisplayVersion) expected=$version ;;
        UninstallString) expected="\"$SETUP_FOLDER_WIN\\Uninstall.exe\"" ;;
        DisplayIcon) expected="$SETUP_FOLDER_WIN\\servo-tool.exe" ;;
        esac
        found=$(awk -v name="$name" '$1 == name { sub(/^ *[^ ]+ +REG_SZ +/, ""); print }' <<<"$entry")
        [ "$found" = "$expected" ] || die "the uninstall entry has $name \"$found\", not \"$expected\""
    done
    installed_resources "$version"
    stop_prefix

    cli_and_offscreen_window "$SETUP_FOLDER_WIN"

    # The uninstaller copies itself to the temporary folder, starts the copy
    # and returns: wait until every program of the prefix has ended.
    step "Uninstall.exe /S"
    WINEPREFIX=$WIN_PREFIX timeout 300 wine "$APP/Uninstall.exe" /S || die "the uninstaller failed"
    WINEPREFIX=$WIN_PREFIX timeout 300 wineserver -w
    local key
    for key in "$UNINSTALL_KEY" "$VENDOR_KEY"; do
        ! WINEPREFIX=$WIN_PREFIX wine reg query "$key" >/dev/null 2>&1 || die "$key is left after uninstalling"
    done
    diff <(printf '%s\n' "$before") <(drive_c_listing) >&2 ||
        die "uninstalling left files behind or took some away (< before installing, > after uninstalling)"
    stop_prefix
    echo "uninstalled: C:\\ is as before installing (but for the temporary folders), the registry keys are gone"
}
