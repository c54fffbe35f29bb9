# Sourced by sanitize.sh and fuzz.sh: configure_sanitizer_build configures
# build-asan/, one clang build of everything (no benchmarks) with the address
# and undefined-behaviour sanitizers, where the libFuzzer targets are built
# too; both scripts share its objects. Installs clang when it is missing.
# With TL8_SANITIZER_BUILT set (test.sh, which built it) neither script
# configures or builds, so both can run at once.
source scripts/packages.sh
sanitizer_packages=(clang libclang-rt-14-dev cmake ninja-build qt6-base-dev)

configure_sanitizer_build() {
  install_packages "${sanitizer_packages[@]}"
  # -O1: the fuzz targets need speed, the suite under the sanitizers too, and
  # it costs the compiler little more than -O0; -g1 gives the reports lines.
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DTL8_FUZZ=ON -DTL8_BENCH=OFF -DTL8_WERROR=ON -DTL8_UNITY=ON \
    $(compiler_cache)
}
