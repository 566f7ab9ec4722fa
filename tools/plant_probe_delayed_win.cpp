// brimo-plant-probe-delayed: binds crypt32 at first call through the program's own delay-load hooks
// and nothing else (none of the program's start-up, which also narrows the library search), so the
// planted-library test shows that the hooks alone keep a library planted beside it out, as they must
// for a call made before the start-up runs.
#include <windows.h>

#include <wincrypt.h>

int main() { return CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) ? 0 : 1; }
