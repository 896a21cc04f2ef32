# Sourced by the build and test scripts: which Windows programs Wine can run here.
#   wine_runs_32bit   - true when Wine's 32-bit loader starts on this machine
#   windows_test_arch - i686 or x86_64: the architecture of the Windows test tree
#
# Some kernels run no 32-bit Linux programs (IA-32 emulation off): there the
# 32-bit loader of Wine fails with "Exec format error", and only 64-bit Windows
# programs run, through the 64-bit loader. The shipped programs are 32-bit
# either way; on such a machine the Windows-side and GUI tests run a 64-bit
# build of the same sources. WINDOWS_TEST_ARCH=i686|x86_64 overrides the probe.

wine_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

windows_test_arch() {
  if [ -n "${WINDOWS_TEST_ARCH:-}" ]; then
    echo "$WINDOWS_TEST_ARCH"
  elif wine_runs_32bit; then
    echo i686
  else
    echo x86_64
  fi
}
