#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <boost/format.hpp>
#include <streambuf>
#include <vector>

#include "platform/DebugLog.h"
#include "platform/UniqueAny_win.h"
#include "trust/InstallerFile.h"
#include "trust/InstallerFolder.h"

namespace brimo {

namespace {

// Read in pieces this large when hashing the held file.
constexpr DWORD kHashChunk = 1 << 20;

std::wstring SystemCode(DWORD error) { return (boost::wformat(L"system:%1%") % error).str(); }

bool HasAdministrators() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(sid);
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
         CheckTokenMembership(nullptr, sid, &member) && member;
}

// The SID of the process token's user, as text; empty when it cannot be had.
std::wstring UserSid() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return L"";
  const UniqueHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  LPWSTR text = nullptr;
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
    return L"";
  const UniqueLocal<LPWSTR> owned(text);
  return text;
}

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);
constexpr ULONG kCreateNew = 2;         // FILE_CREATE: fails when the name exists
constexpr ULONG kDirectory = 0x1;       // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x20;  // FILE_SYNCHRONOUS_IO_NONALERT

// Makes the private folder with its descriptor and opens it, in one call: the handle that comes back
// is the folder just made, and as it does not share deletion, the folder can be neither renamed nor
// removed (and another put in its place) while it is held. 0 when done, else the system error.
DWORD MakePrivateFolder(const boost::filesystem::path& folder, UniqueFileHandle& held) {
  const std::wstring user = UserSid();
  if (user.empty()) return ERROR_NO_TOKEN;
  const bool administrators = HasAdministrators();
  if (!administrators)
    LogInfo(L"installer folder writable by the user - the token has no Administrators group");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(InstallerFolderSddl(user, administrators).c_str(),
                                                            SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  const UniqueLocal<PSECURITY_DESCRIPTOR> owned(descriptor);
  // ntdll is mapped into every process; its two entry points are looked up rather than imported.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto create = reinterpret_cast<NtCreateFileCall>(
      reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "NtCreateFile") : nullptr));
  const auto toError = reinterpret_cast<NtStatusToErrorCall>(
      reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr));
  if (!create || !toError) return ERROR_PROC_NOT_FOUND;
  std::wstring name = L"\\??\\" + folder.wstring();
  UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)), &name[0]};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  const NTSTATUS result =
      create(&handle, FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE, &attributes, &status, nullptr,
             FILE_ATTRIBUTE_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, kCreateNew,
             kDirectory | kSynchronousIo, nullptr, 0);
  if (result < 0) return toError(result);
  held.reset(handle);
  return 0;
}

// What identifies the file and its last change: a file replaced or written in the moment between
// the end of writing and the read-only hold shows up as a difference here.
struct FileIdentity {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
};

bool ReadIdentity(HANDLE file, FileIdentity& identity) {
  return GetFileInformationByHandle(file, &identity.info) &&
         GetFileInformationByHandleEx(file, FileBasicInfo, &identity.basic, sizeof(identity.basic));
}

bool SameFileUnchanged(const FileIdentity& a, const FileIdentity& b) {
  return a.info.dwVolumeSerialNumber == b.info.dwVolumeSerialNumber &&
         a.info.nFileIndexHigh == b.info.nFileIndexHigh && a.info.nFileIndexLow == b.info.nFileIndexLow &&
         a.info.nFileSizeHigh == b.info.nFileSizeHigh && a.info.nFileSizeLow == b.info.nFileSizeLow &&
         a.basic.LastWriteTime.QuadPart == b.basic.LastWriteTime.QuadPart &&
         a.basic.ChangeTime.QuadPart == b.basic.ChangeTime.QuadPart;
}

// count bytes at offset through file; false unless all of them were read.
bool ReadExactly(HANDLE file, std::uint64_t offset, DWORD count, void* out) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  return ReadFile(file, out, count, &got, &at) && got == count;
}

// The SHA-512 of everything the handle holds, read through it.
std::optional<Sha512Digest> HashHeld(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return std::nullopt;
  Sha512 hash;
  std::vector<char> buffer(kHashChunk);
  for (std::uint64_t done = 0; done < static_cast<std::uint64_t>(size.QuadPart);) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(kHashChunk, size.QuadPart - done));
    if (!ReadExactly(file, done, chunk, buffer.data())) return std::nullopt;
    hash.Update(buffer.data(), chunk);
    done += chunk;
  }
  return hash.Finish();
}

// Writes each chunk straight to the file; a failed write fails the stream.
class FileBuf : public std::streambuf {
 public:
  explicit FileBuf(HANDLE file) : file_(file) {}

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::streamsize>(count - done, 1 << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data + done, chunk, &written, nullptr) || written == 0) break;
      done += written;
    }
    return done;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

 private:
  HANDLE file_;
};

}  // namespace

struct InstallerFile::State {
  boost::filesystem::path path;
  bool hashContent;
  UniqueFileHandle folder;
  UniqueFileHandle writer;
  UniqueFileHandle holder;
  std::optional<Sha512Digest> digest;
  FileBuf buffer;
  std::ostream stream;

  State(const boost::filesystem::path& p, bool hash)
      : path(p), hashContent(hash), writer(Create(p, folder)), buffer(writer.get()), stream(&buffer) {
    if (!writer) stream.setstate(std::ios::badbit);
  }

  static HANDLE Create(const boost::filesystem::path& path, UniqueFileHandle& folder) {
    if (const DWORD error = MakePrivateFolder(path.parent_path(), folder)) {
      LogInfo((boost::wformat(L"installer folder not created (code: %1%)") % SystemCode(error)).str());
      return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

InstallerFile::InstallerFile(const boost::filesystem::path& path, bool hashContent)
    : state_(std::make_unique<State>(path, hashContent)) {}

InstallerFile::~InstallerFile() = default;

std::ostream& InstallerFile::Stream() { return state_->stream; }

bool InstallerFile::FinishWriting(const std::function<void()>& unheld) {
  State& s = *state_;
  if (!s.writer || !s.stream.good()) {
    s.writer.reset();
    return false;
  }
  FileIdentity written;
  const bool known = ReadIdentity(s.writer.get(), written);
  // The installer cannot start while a handle may write to it, so the writer closes and a read-only
  // handle that still denies writing and deletion takes over. What another process may do in that
  // moment shows in the identity, and in the digest, which is taken from the held bytes.
  s.writer.reset();
  if (unheld) unheld();
  s.holder.reset(CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  FileIdentity held;
  if (!known || !s.holder || !ReadIdentity(s.holder.get(), held) || !SameFileUnchanged(written, held))
    return false;
  if (s.hashContent) s.digest = HashHeld(s.holder.get());
  return true;
}

const std::optional<Sha512Digest>& InstallerFile::Digest() const { return state_->digest; }

const boost::filesystem::path& InstallerFile::Path() const { return state_->path; }

void* InstallerFile::NativeHandle() const { return state_->holder ? state_->holder.get() : nullptr; }

std::uint64_t InstallerFile::Size() const {
  LARGE_INTEGER size{};
  return state_->holder && GetFileSizeEx(state_->holder.get(), &size)
             ? static_cast<std::uint64_t>(size.QuadPart)
             : 0;
}

bool InstallerFile::ReadAt(std::uint64_t offset, std::size_t count, void* out) const {
  return state_->holder && count <= MAXDWORD &&
         ReadExactly(state_->holder.get(), offset, static_cast<DWORD>(count), out);
}

void InstallerFile::Release() {
  state_->writer.reset();
  state_->holder.reset();
  state_->folder.reset();
}

}  // namespace brimo
