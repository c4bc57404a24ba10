# Installs the named Debian packages that are not installed yet.
# Usage: ensure_packages pkg...   (needs root, or sudo, when something is missing)
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What every build of the project needs.
BUILD_PACKAGES=(cmake make g++ pkg-config libjsoncpp-dev libboost-dev libboost-date-time-dev
                libgtest-dev libgmock-dev)
# Google Benchmark, so that the benchmarks build (and get a short run) with the project.
BUILD_PACKAGES+=(libbenchmark-dev)
# The bench tools: Boost.Asio's serial port, option parsing, SQLite history, gnuplot for --plot.
BUILD_PACKAGES+=(libboost-system-dev libboost-program-options-dev libsqlite3-dev gnuplot-nox)
# What the tests need besides: a real serial-to-network gateway (ser2net) the
# gateway tests put in front of the simulated line.
TEST_PACKAGES=(ser2net)
