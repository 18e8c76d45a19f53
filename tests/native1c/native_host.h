#pragma once
// A stand-in for 1C:Enterprise loading a Native component, declared from the
// published contract alone (none of the component's sources): the value type,
// the interfaces in their order, a counting memory manager and a platform
// connection that records what the component tells it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The platform's names, in the global namespace as its headers have them.
using WCHAR_T = uint16_t;
enum : uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_I4 = 3,
  VTYPE_R8 = 5,
  VTYPE_TM = 7,
  VTYPE_BOOL = 11,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23
};

struct tVariant {
  union {
    int32_t lVal;
    double dblVal;
    bool bVal;
    struct tm tmVal;  // sizes the union
    struct {
      char* pstrVal;
      uint32_t strLen;
    };
    struct {
      WCHAR_T* pwstrVal;
      uint32_t wstrLen;
    };
  };
  uint32_t cbElements;
  uint16_t vt;
};

struct IInitDoneBase {
  virtual ~IInitDoneBase() = default;
  virtual bool Init(void*) = 0;
  virtual bool setMemManager(void*) = 0;
  virtual long GetInfo() = 0;
  virtual void Done() = 0;
};
struct ILanguageExtenderBase {
  virtual ~ILanguageExtenderBase() = default;
  virtual bool RegisterExtensionAs(WCHAR_T**) = 0;
  virtual long GetNProps() = 0;
  virtual long FindProp(const WCHAR_T*) = 0;
  virtual const WCHAR_T* GetPropName(long, long) = 0;
  virtual bool GetPropVal(const long, tVariant*) = 0;
  virtual bool SetPropVal(const long, tVariant*) = 0;
  virtual bool IsPropReadable(const long) = 0;
  virtual bool IsPropWritable(const long) = 0;
  virtual long GetNMethods() = 0;
  virtual long FindMethod(const WCHAR_T*) = 0;
  virtual const WCHAR_T* GetMethodName(const long, const long) = 0;
  virtual long GetNParams(const long) = 0;
  virtual bool GetParamDefValue(const long, const long, tVariant*) = 0;
  virtual bool HasRetVal(const long) = 0;
  virtual bool CallAsProc(const long, tVariant*, const long) = 0;
  virtual bool CallAsFunc(const long, tVariant*, tVariant*, const long) = 0;
};
struct LocaleBase {
  virtual ~LocaleBase() = default;
  virtual void SetLocale(const WCHAR_T*) = 0;
};
struct UserLanguageBase {
  virtual ~UserLanguageBase() = default;
  virtual void SetUserInterfaceLanguageCode(const WCHAR_T*) = 0;
};
struct IComponentBase : IInitDoneBase, ILanguageExtenderBase, LocaleBase, UserLanguageBase {};

struct IMemoryManager {
  virtual ~IMemoryManager() = default;
  virtual bool AllocMemory(void** block, unsigned long bytes) = 0;
  virtual void FreeMemory(void** block) = 0;
};
struct IAddInDefBase {
  virtual ~IAddInDefBase() = default;
  virtual bool AddError(unsigned short, const WCHAR_T*, const WCHAR_T*, long) = 0;
  virtual bool Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) { return false; }
  virtual bool Write(WCHAR_T*, tVariant*) { return false; }
  virtual bool RegisterProfileAs(WCHAR_T*) { return false; }
  virtual bool SetEventBufferDepth(long) = 0;
  virtual long GetEventBufferDepth() = 0;
  virtual bool ExternalEvent(WCHAR_T*, WCHAR_T*, WCHAR_T*) = 0;
  virtual void CleanEventBuffer() {}
  virtual bool SetStatusLine(WCHAR_T*) { return false; }
  virtual void ResetStatusLine() {}
};

namespace host {

inline std::u16string text(const WCHAR_T* p) {
  std::u16string s;
  for (; p && *p; ++p) s += static_cast<char16_t>(*p);
  return s;
}
inline std::basic_string<WCHAR_T> wide(std::u16string_view s) {
  return {s.begin(), s.end()};
}

// Counts the blocks the component holds; refuses them on request.
struct CountingMemory final : IMemoryManager {
  std::atomic<int> live{0};
  bool refuse = false;
  bool AllocMemory(void** block, unsigned long bytes) override {
    live += (*block = refuse ? nullptr : std::malloc(bytes)) != nullptr;
    return *block;
  }
  void FreeMemory(void** block) override {
    live -= *block != nullptr;
    std::free(std::exchange(*block, nullptr));
  }
};

// Records AddError, SetEventBufferDepth and ExternalEvent (from any thread);
// refuses events on request.
struct RecordingPlatform final : IAddInDefBase {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<unsigned short, std::u16string>> errors;  // code, "source: description"
  std::vector<std::u16string> events;                             // "source|message|data"
  std::vector<long> depths;
  bool refuse = false;
  size_t refused = 0;

  bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* text_, long) override {
    errors.emplace_back(code, text(source) + u": " + text(text_));
    return true;
  }
  bool SetEventBufferDepth(long depth) override { return depths.push_back(depth), true; }
  long GetEventBufferDepth() override { return depths.empty() ? 1 : depths.back(); }
  bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) override {
    std::lock_guard lock(mutex);
    if (!refuse) events.push_back(text(source) + u"|" + text(message) + u"|" + text(data));
    refused += refuse;
    changed.notify_all();
    return !refuse;
  }
  template <class Predicate>
  bool waitUntil(Predicate done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
  }
};

}  // namespace host
