# Sourced by the top-level scripts: installs the Debian packages they need.
# Usage: ensure_packages PACKAGE...   (installs only what is missing)

# Everything the project, its tests and the game need.
FLOERUSH_PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qtbase5-dev libqt5opengl5-dev qtmultimedia5-dev libqt5multimedia5-plugins
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri
  xvfb xauth openbox x11-utils xdotool desktop-file-utils appstream
  assimp-testmodels
)

# Libraries the benchmarks compare against; the project builds without them.
FLOERUSH_BENCH_PACKAGES=(libstb-dev libassimp-dev libopencv-imgproc-dev)

ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
