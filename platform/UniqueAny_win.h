// One move-only owner for every kind of Windows resource. Its traits name the empty value and the
// call that releases a value; one alias per release rule.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <utility>

namespace brimo {

template <class Traits>
class UniqueAny {
 public:
  using Value = typename Traits::Value;

  UniqueAny() noexcept : value_(Traits::Empty()) {}
  explicit UniqueAny(Value value) noexcept : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  const Value& get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return !Traits::IsEmpty(value_); }

  Value release() noexcept { return std::exchange(value_, Traits::Empty()); }
  void reset(Value value = Traits::Empty()) noexcept {
    Value old = std::exchange(value_, value);
    if (!Traits::IsEmpty(old)) Traits::Close(old);
  }

 private:
  Value value_;
};

// Traits for a plain value whose empty state is one constant.
template <class T, T EmptyValue, auto CloseFn>
struct SimpleTraits {
  using Value = T;
  static T Empty() noexcept { return EmptyValue; }
  static bool IsEmpty(T value) noexcept { return value == EmptyValue; }
  static void Close(T value) noexcept { CloseFn(value); }
};

namespace detail {
inline void CloseHandleValue(HANDLE h) noexcept { ::CloseHandle(h); }
inline void DeleteDcValue(HDC dc) noexcept { ::DeleteDC(dc); }
inline void DeleteGdiObjectValue(HGDIOBJ object) noexcept { ::DeleteObject(object); }
inline void FreeArgvValue(LPWSTR* argv) noexcept { ::LocalFree(argv); }
inline void FreeCertChainValue(PCCERT_CHAIN_CONTEXT chain) noexcept { ::CertFreeCertificateChain(chain); }
inline void FreeCertContextValue(PCCERT_CONTEXT certificate) noexcept {
  ::CertFreeCertificateContext(certificate);
}
inline void CloseCertStoreValue(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
inline void CloseCryptMsgValue(HCRYPTMSG message) noexcept { ::CryptMsgClose(message); }
inline void LocalFreeValue(void* memory) noexcept { ::LocalFree(memory); }
inline void CloseAlgorithmValue(BCRYPT_ALG_HANDLE algorithm) noexcept {
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
}
inline void DestroyHashValue(BCRYPT_HASH_HANDLE hash) noexcept { ::BCryptDestroyHash(hash); }
inline void DestroyKeyValue(BCRYPT_KEY_HANDLE key) noexcept { ::BCryptDestroyKey(key); }
}  // namespace detail

// Kernel handles whose empty value is null (processes, threads, mutexes).
using UniqueHandle = UniqueAny<SimpleTraits<HANDLE, nullptr, detail::CloseHandleValue>>;
// Memory device contexts from CreateCompatibleDC.
using UniqueMemoryDc = UniqueAny<SimpleTraits<HDC, nullptr, detail::DeleteDcValue>>;
// GDI objects: bitmaps, regions, brushes.
using UniqueGdiObject = UniqueAny<SimpleTraits<HGDIOBJ, nullptr, detail::DeleteGdiObjectValue>>;
// The argument array of CommandLineToArgvW.
using UniqueArgv = UniqueAny<SimpleTraits<LPWSTR*, nullptr, detail::FreeArgvValue>>;
// Certificate chains from CertGetCertificateChain.
using UniqueCertChain = UniqueAny<SimpleTraits<PCCERT_CHAIN_CONTEXT, nullptr, detail::FreeCertChainValue>>;
// Certificates found in a store, certificate stores, and decoded messages.
using UniqueCertContext = UniqueAny<SimpleTraits<PCCERT_CONTEXT, nullptr, detail::FreeCertContextValue>>;
using UniqueCertStore = UniqueAny<SimpleTraits<HCERTSTORE, nullptr, detail::CloseCertStoreValue>>;
using UniqueCryptMsg = UniqueAny<SimpleTraits<HCRYPTMSG, nullptr, detail::CloseCryptMsgValue>>;
// Memory that a call allocated for its caller to LocalFree (decoded objects, SIDs and security
// descriptors converted from text). T is the pointer type the call hands out.
template <class T>
using UniqueLocal = UniqueAny<SimpleTraits<T, nullptr, detail::LocalFreeValue>>;
// CNG algorithm providers, hash objects and keys.
using UniqueAlgorithm = UniqueAny<SimpleTraits<BCRYPT_ALG_HANDLE, nullptr, detail::CloseAlgorithmValue>>;
using UniqueHash = UniqueAny<SimpleTraits<BCRYPT_HASH_HANDLE, nullptr, detail::DestroyHashValue>>;
using UniqueKey = UniqueAny<SimpleTraits<BCRYPT_KEY_HANDLE, nullptr, detail::DestroyKeyValue>>;

// File handles, whose empty value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Value = HANDLE;
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE || h == nullptr; }
  static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
using UniqueFileHandle = UniqueAny<FileHandleTraits>;

// A paint session: BeginPaint's device context, released with EndPaint.
struct PaintDc {
  HWND hwnd = nullptr;
  PAINTSTRUCT paint{};
  HDC dc = nullptr;
};
struct PaintDcTraits {
  using Value = PaintDc;
  static PaintDc Empty() noexcept { return PaintDc{}; }
  static bool IsEmpty(const PaintDc& p) noexcept { return p.dc == nullptr; }
  static void Close(PaintDc& p) noexcept { ::EndPaint(p.hwnd, &p.paint); }
};
using UniquePaintDc = UniqueAny<PaintDcTraits>;

inline UniquePaintDc BeginPaintScoped(HWND hwnd) {
  PaintDc p;
  p.hwnd = hwnd;
  p.dc = ::BeginPaint(hwnd, &p.paint);
  return UniquePaintDc(p);
}

// An object selected into a device context; releasing it selects the previous object back.
struct Selection {
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
};
struct SelectionTraits {
  using Value = Selection;
  static Selection Empty() noexcept { return Selection{}; }
  static bool IsEmpty(const Selection& s) noexcept { return s.dc == nullptr; }
  static void Close(const Selection& s) noexcept { ::SelectObject(s.dc, s.previous); }
};
using UniqueSelection = UniqueAny<SelectionTraits>;

inline UniqueSelection SelectScoped(HDC dc, HGDIOBJ object) {
  return UniqueSelection(Selection{dc, ::SelectObject(dc, object)});
}

}  // namespace brimo
