#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
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
constexpr ULONG kOpenExisting = 1;             // FILE_OPEN
constexpr ULONG kCreateNew = 2;                // FILE_CREATE: fails when the name exists
constexpr ULONG kDirectory = 0x1;              // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x20;         // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kNonDirectory = 0x40;          // FILE_NON_DIRECTORY_FILE
constexpr ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens or creates name below root (a full NT path when root is null) in one call of the system's
// own; 0 when done, else the system error. ntdll is mapped into every process: its two entry points
// are looked up rather than imported.
DWORD NtOpen(HANDLE root, std::wstring name, ACCESS_MASK access, ULONG share, ULONG disposition,
             ULONG options, PSECURITY_DESCRIPTOR descriptor, UniqueFileHandle& opened) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto create = reinterpret_cast<NtCreateFileCall>(
      reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "NtCreateFile") : nullptr));
  const auto toError = reinterpret_cast<NtStatusToErrorCall>(
      reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr));
  if (!create || !toError) return ERROR_PROC_NOT_FOUND;
  UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)), &name[0]};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  const NTSTATUS result =
      create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
             disposition, options | kSynchronousIo, nullptr, 0);
  if (result < 0) return toError(result);
  opened.reset(handle);
  return 0;
}

// The folder's name below parent's handle, or its full NT path without one.
std::wstring FolderName(const boost::filesystem::path& folder, const InstallerParent* parent) {
  return parent && parent->NativeHandle() ? folder.filename().wstring() : L"\\??\\" + folder.wstring();
}

// Makes the private folder with its descriptor and opens it, in one call: the handle that comes back
// is the folder just made, and as it does not share deletion, the folder can be neither renamed nor
// removed (and another put in its place) while it is held. 0 when done, else the system error.
DWORD MakePrivateFolder(const boost::filesystem::path& folder, const InstallerParent* parent,
                        UniqueFileHandle& held) {
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
  return NtOpen(parent ? static_cast<HANDLE>(parent->NativeHandle()) : nullptr, FolderName(folder, parent),
                FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, kCreateNew,
                kDirectory, descriptor, held);
}

bool ReadIdentity(HANDLE file, FileFacts& facts) {
  FILE_ID_INFO id{};
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER size{};
  if (!GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof(id)) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileSizeEx(file, &size))
    return false;
  facts.volumeSerial = id.VolumeSerialNumber;
  std::copy(std::begin(id.FileId.Identifier), std::end(id.FileId.Identifier), facts.fileId.begin());
  facts.size = static_cast<std::uint64_t>(size.QuadPart);
  facts.lastWriteTime = basic.LastWriteTime.QuadPart;
  facts.changeTime = basic.ChangeTime.QuadPart;
  return true;
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
  const InstallerParent* parent;
  UniqueFileHandle folder;
  std::optional<std::wstring> makeError;
  UniqueFileHandle writer;
  UniqueFileHandle holder;
  std::optional<Sha512Digest> digest;
  FileBuf buffer;
  std::ostream stream;

  State(const boost::filesystem::path& p, bool hash, const InstallerParent* parentFolder)
      : path(p),
        hashContent(hash),
        parent(parentFolder),
        writer(Create(p, parentFolder, folder, makeError)),
        buffer(writer.get()),
        stream(&buffer) {
    if (!writer) stream.setstate(std::ios::badbit);
  }

  static HANDLE Create(const boost::filesystem::path& path, const InstallerParent* parent,
                       UniqueFileHandle& folder, std::optional<std::wstring>& error) {
    if (const DWORD made = MakePrivateFolder(path.parent_path(), parent, folder)) {
      error = SystemCode(made);
      return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) error = SystemCode(GetLastError());
    return file;
  }
};

InstallerFile::InstallerFile(const boost::filesystem::path& path, bool hashContent,
                             const InstallerParent* parent)
    : state_(std::make_unique<State>(path, hashContent, parent)) {}

InstallerFile::~InstallerFile() = default;

const std::optional<std::wstring>& InstallerFile::MakeError() const { return state_->makeError; }

std::ostream& InstallerFile::Stream() { return state_->stream; }

bool InstallerFile::FinishWriting(const std::function<void()>& unheld) {
  State& s = *state_;
  if (!s.writer || !s.stream.good()) {
    s.writer.reset();
    return false;
  }
  FileFacts written;
  const bool known = ReadIdentity(s.writer.get(), written);
  // The installer cannot start while a handle may write to it, so the writer closes and a read-only
  // handle that still denies writing and deletion takes over. What another process may do in that
  // moment shows in the identity, and in the digest, which is taken from the held bytes.
  s.writer.reset();
  if (unheld) unheld();
  s.holder.reset(CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  FileFacts held;
  if (!known || !s.holder || !ReadIdentity(s.holder.get(), held) || !SameFileAcrossClose(written, held))
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
}

void InstallerFile::Remove() {
  State& s = *state_;
  s.writer.reset();
  s.holder.reset();
  if (!s.folder) return;
  const auto logged = [](const wchar_t* what, DWORD error) {
    LogInfo(
        (boost::wformat(L"post-install couldn't remove %1% (code: %2%)") % what % SystemCode(error)).str());
  };
  // The file, by name below the held folder; one the installer removed itself is no error.
  UniqueFileHandle file;
  const DWORD opened = NtOpen(s.folder.get(), s.path.filename().wstring(), DELETE, kShareAll, kOpenExisting,
                              kNonDirectory | kOpenReparsePoint, nullptr, file);
  if (opened != 0 && opened != ERROR_FILE_NOT_FOUND) return logged(L"file", opened);
  FILE_DISPOSITION_INFO remove{TRUE};
  if (file && !SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof(remove)))
    return logged(L"file", GetLastError());
  file.reset();
  // The folder: our own hold denies the deletion access that marking it needs, so it goes first.
  s.folder.reset();
  UniqueFileHandle folder;
  const HANDLE parent = s.parent ? static_cast<HANDLE>(s.parent->NativeHandle()) : nullptr;
  DWORD error = NtOpen(parent, FolderName(s.path.parent_path(), s.parent), DELETE, kShareAll, kOpenExisting,
                       kDirectory | kOpenReparsePoint, nullptr, folder);
  if (error == 0 && !SetFileInformationByHandle(folder.get(), FileDispositionInfo, &remove, sizeof(remove)))
    error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION &&
      MoveFileExW(s.path.parent_path().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return;
  if (error != 0) logged(L"folder", error);
}

InstallerParent::InstallerParent(const std::wstring& testOwner) {
  if (!HasAdministrators()) {
    LogInfo(L"installer folder in the user's temporary folder - the token has no Administrators group");
    boost::system::error_code error;
    path_ = boost::filesystem::temp_directory_path(error);
    if (error) {
      path_.reset();
      failure_ = SystemCode(static_cast<DWORD>(error.value()));
    }
    return;
  }
  wchar_t windows[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    failure_ = SystemCode(GetLastError());
    return;
  }
  for (std::size_t i = 0; i < kInstallerParentFolders.size(); ++i) {
    const boost::filesystem::path candidate = boost::filesystem::path(windows) / kInstallerParentFolders[i];
    // Adding a folder is what the program needs of it: where that is denied, the next one is tried.
    UniqueFileHandle held(CreateFileW(
        candidate.c_str(),
        FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) {
      const DWORD error = GetLastError();
      const bool absentOrDenied =
          error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_ACCESS_DENIED;
      if (absentOrDenied && i + 1 < kInstallerParentFolders.size()) continue;
      failure_ = candidate.wstring() + L" not opened (code: " + SystemCode(error) + L")";
      return;
    }
    ParentFolderFacts facts;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(held.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
      facts.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      facts.reparsePoint = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR ownerText = nullptr;
    if (GetSecurityInfo(held.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) == ERROR_SUCCESS &&
        owner && ConvertSidToStringSidW(owner, &ownerText)) {
      facts.ownerSid = ownerText;
      LocalFree(ownerText);
    }
    if (descriptor) LocalFree(descriptor);
    if (const std::optional<std::wstring> refusal =
            ParentFolderRefusal(candidate.wstring(), facts, testOwner)) {
      failure_ = *refusal;
      return;
    }
    path_ = candidate;
    handle_ = held.release();
    return;
  }
}

InstallerParent::~InstallerParent() {
  if (handle_) CloseHandle(handle_);
}

const std::optional<boost::filesystem::path>& InstallerParent::Path() const { return path_; }

const std::wstring& InstallerParent::Failure() const { return failure_; }

void* InstallerParent::NativeHandle() const { return handle_; }

}  // namespace brimo
