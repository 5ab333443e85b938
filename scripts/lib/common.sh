# Shared by the scripts: the repository root, the generator, the packages.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Installs what the build and the tests need, when it is missing and we may;
# arguments name further packages a script needs (the benchmarks' peers).
ensure_packages() {
    local wanted=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev
                  libbenchmark-dev zlib1g-dev clang libcpp-httplib-dev prometheus tmux
                  groff-base abigail-tools dpkg-dev gcovr)
    wanted+=("$@")
    local missing=()
    for p in "${wanted[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
}

generator_args() {
    if command -v ninja >/dev/null 2>&1; then echo "-G Ninja"; fi
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    # shellcheck disable=SC2046
    cmake -S "$repo_root" -B "$dir" $(generator_args) "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}
