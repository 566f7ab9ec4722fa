#include <windows.h>

#include <streambuf>

#include "platform/InstallerFile.h"
#include "platform/UniqueAny_win.h"

namespace brimo {

namespace {

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

// Writes each chunk straight to the file and into the hash, if any; a failed write fails the stream.
class HashingFileBuf : public std::streambuf {
 public:
  HashingFileBuf(HANDLE file, Sha512* hash) : file_(file), hash_(hash) {}

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::streamsize>(count - done, 1 << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data + done, chunk, &written, nullptr) || written == 0) break;
      if (hash_) hash_->Update(data + done, written);
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
  Sha512* hash_;
};

}  // namespace

struct InstallerFile::State {
  boost::filesystem::path path;
  UniqueFileHandle writer;
  UniqueFileHandle holder;
  Sha512 hash;
  Sha512Digest digest{};
  HashingFileBuf buffer;
  std::ostream stream;

  State(const boost::filesystem::path& p, bool hashContent)
      : path(p),
        writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr)),
        buffer(writer.get(), hashContent ? &hash : nullptr),
        stream(&buffer) {
    if (!writer) stream.setstate(std::ios::badbit);
  }
};

InstallerFile::InstallerFile(const boost::filesystem::path& path, bool hashContent)
    : state_(std::make_unique<State>(path, hashContent)) {}

InstallerFile::~InstallerFile() = default;

std::ostream& InstallerFile::Stream() { return state_->stream; }

bool InstallerFile::FinishWriting() {
  State& s = *state_;
  s.digest = s.hash.Finish();
  if (!s.writer || !s.stream.good()) {
    s.writer.reset();
    return false;
  }
  FileIdentity written;
  const bool known = ReadIdentity(s.writer.get(), written);
  // The installer cannot start while a handle may write to it, so the writer closes and a read-only
  // handle that still denies writing and deletion takes over.
  s.writer.reset();
  s.holder.reset(CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  FileIdentity held;
  return known && s.holder && ReadIdentity(s.holder.get(), held) && SameFileUnchanged(written, held);
}

const Sha512Digest& InstallerFile::Digest() const { return state_->digest; }

const boost::filesystem::path& InstallerFile::Path() const { return state_->path; }

void* InstallerFile::NativeHandle() const { return state_->holder ? state_->holder.get() : nullptr; }

void InstallerFile::Release() {
  state_->writer.reset();
  state_->holder.reset();
}

}  // namespace brimo
