# Shared by scripts/coverage.sh and scripts/mutate.sh (sourced): one build configuration for
# both, Debug with gcc --coverage and without sanitizers, so that one build serves both runs.

# ix_configure_measure_build SOURCE_DIR BUILD_DIR: configures (or re-checks) the build.
ix_configure_measure_build() {
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DIX_SANITIZE=OFF -DIX_WERROR=OFF \
    -DIX_BUILD_BENCH=OFF -DIX_FUZZ=OFF -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage "${launcher[@]}" >/dev/null
}

# ix_copy_tree SOURCE_DIR DEST_DIR: copies the working tree (tracked and new files) with their
# modification times, so that a file unchanged since the last copy is not rebuilt.
ix_copy_tree() {
  mkdir -p "$2"
  (cd "$1" && git ls-files -z -co --exclude-standard | tar --null -T - -cf -) | tar -xf - -C "$2"
}
