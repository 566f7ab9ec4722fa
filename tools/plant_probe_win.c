/* brimo-plant-probe: binds crypt32 at load time, as the program did before it delay-loaded it, so
   the planted-library test can show that its stand-ins are picked up where nothing prevents it. */
#include <windows.h>

#include <wincrypt.h>

int main(void) { return CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, NULL) ? 0 : 1; }
