# Sourced by the build scripts (from the top of the checkout).
#
# configure DIR [CMAKE-ARGS...]: configures DIR with Debian's compiler and
# linker hardening flags, as debhelper gives them, so that the tested build
# and the packaged one are compiled alike and the compiler cache serves the
# second from the first. Unity builds: each library's and test program's
# sources compile in batches, so the headers they share are parsed once per
# batch rather than once per file. A new tree gets Ninja; an existing one
# keeps its generator.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
# Build trees differ only in where they are; the cache need not tell them apart.
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"

configure() {
  local dir=$1
  shift
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
  local CPPFLAGS CXXFLAGS LDFLAGS
  eval "$(dpkg-buildflags --export=sh | grep -E '^export (CPPFLAGS|CXXFLAGS|LDFLAGS)=')"
  # Line tables only: full debug information was a third of an optimised
  # compile, and the packages are stripped anyway. DEB_CXXFLAGS_APPEND=-g
  # brings it back for a debugging session.
  CXXFLAGS=$(sed 's/^-g /-g1 /; s/ -g / -g1 /' <<< "$CXXFLAGS")
  cmake "${generator[@]}" -S . -B "$dir" -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" -DCMAKE_UNITY_BUILD=ON \
    "$@" > /dev/null
}
