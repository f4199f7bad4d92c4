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

# ix_copy_tree SOURCE_DIR DEST_DIR: brings the copy up to date with the working tree (tracked and
# new files). Only files whose content differs are written, and they get the current time: a file
# that kept its time from the working tree could be older than the object built from its previous
# content, and would not be rebuilt. Files no longer in the tree are removed from the copy.
ix_copy_tree() {
  (cd "$1" && git ls-files -z -co --exclude-standard) | python3 -c '
import os, shutil, sys
source, dest = sys.argv[1:]
names = {name for name in sys.stdin.read().split("\0") if name}
for name in names:
    src, dst = os.path.join(source, name), os.path.join(dest, name)
    if not os.path.isfile(src):
        continue
    if os.path.isfile(dst) and os.path.getsize(src) == os.path.getsize(dst):
        with open(src, "rb") as a, open(dst, "rb") as b:
            if a.read() == b.read():
                continue
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    shutil.copyfile(src, dst)
    shutil.copymode(src, dst)
for folder, _, files in os.walk(dest):
    for file in files:
        path = os.path.join(folder, file)
        if os.path.relpath(path, dest) not in names:
            os.remove(path)
' "$1" "$2"
}
