# Shared by the set-up scripts: install what is missing from Debian's packages.

# ensure_packages PKG...: installs the packages that are not installed yet (as root), or prints
# the exact command and fails (as anyone else).
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >/dev/null
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "These packages are needed and missing. Install them with:" >&2
        echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
}

# The packages every build needs (the JSON and command-line libraries are header-only; help2man
# makes the man page).
BUILD_PACKAGES=(cmake ninja-build g++ make nlohmann-json3-dev libcli11-dev help2man)
# The test suite's: GoogleTest (static libraries and sources) and Google Benchmark; clang and its
# linker, which build the debug preset in less than half the processor time gcc and ld take.
# The network-port tests run real terminal servers in front of simulated receivers.
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang lld ser2net python3-serial)
