// scripts/setup-helper.sh gives capabilities only to a helper that carries
// this mark: one built with the C library's fortified calls, which take
// _FORTIFY_SOURCE and optimisation (the C library's own verdict is
// __USE_FORTIFY_LEVEL). A Debug build's helper carries none.
#include <cstddef>

#if defined(__USE_FORTIFY_LEVEL) && __USE_FORTIFY_LEVEL >= 2
[[gnu::used, gnu::section(".quorlix.hardening")]] static const char kFortifyMark[] = "fortify-source-2";
#endif
