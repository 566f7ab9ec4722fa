/* A stand-in for a system library, planted beside the program by the tests: it exports the real
   library's names (each bound to one stub, see cmake/DelayLoad.cmake) and, when anything loads it,
   records its own path in C:\brimo-test\planted-loaded.txt. */
#include <windows.h>

__declspec(dllexport) INT_PTR PlantedStub(void) { return 0; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {0};
  GetModuleFileNameW(instance, path, MAX_PATH);
  CreateDirectoryW(L"C:\\brimo-test", NULL);
  HANDLE record = CreateFileW(L"C:\\brimo-test\\planted-loaded.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (record != INVALID_HANDLE_VALUE) {
    char line[MAX_PATH * 3 + 2];
    int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, line, sizeof(line) - 2, NULL, NULL);
    if (size > 0) {
      line[size - 1] = '\n';
      DWORD written = 0;
      WriteFile(record, line, (DWORD)size, &written, NULL);
    }
    CloseHandle(record);
  }
  return TRUE;
}
