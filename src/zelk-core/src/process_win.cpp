#include "process_win.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>

#include "wide_win.h"

namespace zelk::win {

std::vector<std::wstring> split_path_list(std::wstring_view list) {
  std::vector<std::wstring> folders;
  std::wstring current;
  bool quoted = false;
  for (wchar_t c : list) {
    if (c == L'"') {
      quoted = !quoted;
    } else if (c == L';' && !quoted) {
      if (!current.empty()) folders.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) folders.push_back(std::move(current));
  return folders;
}

std::wstring join_path(std::wstring_view folder, std::wstring_view file) {
  std::wstring path(folder);
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path.push_back(L'\\');
  path.append(file);
  return path;
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

bool ends_with_exe(std::wstring_view name) {
  if (name.size() < 4) return false;
  return CompareStringOrdinal(name.data() + name.size() - 4, 4, L".exe", 4, TRUE) == CSTR_EQUAL;
}

std::wstring folder_of_own_program() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

template <typename Getter>
std::wstring system_folder(Getter getter) {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = getter(folder.data(), static_cast<UINT>(folder.size()));
  if (length > folder.size()) {
    folder.resize(length);
    length = getter(folder.data(), static_cast<UINT>(folder.size()));
  }
  folder.resize(length <= folder.size() ? length : 0);
  return folder;
}

std::wstring environment_value(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD written = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(written < size ? written : 0);
  return value;
}

}  // namespace

std::optional<std::wstring> locate_program(std::wstring_view name) {
  if (name.find_first_of(L"/\\:") != std::wstring_view::npos) {
    std::wstring path(name);
    if (!ends_with_exe(name)) {
      std::wstring with_exe = path + L".exe";
      if (is_file(with_exe)) return with_exe;
    }
    return path;
  }
  if (name.empty()) return std::nullopt;
  std::wstring file(name);
  if (file.find(L'.') == std::wstring::npos) file += L".exe";

  std::vector<std::wstring> folders;
  folders.push_back(folder_of_own_program());
  folders.push_back(system_folder(GetSystemDirectoryW));
  folders.push_back(system_folder(GetWindowsDirectoryW));
  for (std::wstring& folder : split_path_list(environment_value(L"PATH"))) {
    folders.push_back(std::move(folder));
  }
  for (const std::wstring& folder : folders) {
    if (folder.empty()) continue;
    std::wstring candidate = join_path(folder, file);
    if (is_file(candidate)) return candidate;
  }
  return std::nullopt;
}

namespace {

std::wstring_view name_of(std::wstring_view entry) {
  // Entries such as "=C:=C:\work" keep their leading "=" in the name.
  return entry.substr(0, entry.find(L'=', 1));
}

bool same_name(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::wstring> wide_pairs;
  for (const auto& [name, value] : pairs) wide_pairs.push_back(to_wide(name) + L"=" + to_wide(value));

  std::vector<std::wstring> entries;
  if (wchar_t* strings = GetEnvironmentStringsW(); strings != nullptr) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      const std::wstring_view name = name_of(entry);
      bool replaced = false;
      for (const std::wstring& pair : wide_pairs) replaced = replaced || same_name(name_of(pair), name);
      if (!replaced) entries.emplace_back(entry);
    }
    FreeEnvironmentStringsW(strings);
  }
  for (std::size_t index = 0; index < wide_pairs.size(); ++index) {
    bool later = false;
    for (std::size_t other = index + 1; other < wide_pairs.size(); ++other) {
      later = later || same_name(name_of(wide_pairs[other]), name_of(wide_pairs[index]));
    }
    if (!later) entries.push_back(wide_pairs[index]);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const std::wstring_view left = name_of(a);
    const std::wstring_view right = name_of(b);
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                static_cast<int>(right.size()), TRUE) == CSTR_LESS_THAN;
  });

  std::wstring block;
  for (const std::wstring& entry : entries) {
    block.append(entry);
    block.push_back(L'\0');
  }
  if (block.empty()) block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

Handle open_null_device() {
  return Handle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
}

namespace {

// The attribute list that limits what a child inherits to the handles named in it.
class InheritList {
 public:
  explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
  ~InheritList() {
    if (ready_) DeleteProcThreadAttributeList(list());
  }
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;

  std::expected<LPPROC_THREAD_ATTRIBUTE_LIST, DWORD> make() {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_ = std::make_unique<unsigned char[]>(size);
    if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) return std::unexpected(GetLastError());
    ready_ = true;
    if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      return std::unexpected(GetLastError());
    }
    return list();
  }

 private:
  LPPROC_THREAD_ATTRIBUTE_LIST list() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
  }
  std::vector<HANDLE> handles_;
  std::unique_ptr<unsigned char[]> storage_;
  bool ready_ = false;
};

}  // namespace

std::expected<Handle, DWORD> start_process(const ProcessStart& start) {
  // Each standard handle goes to the child as an inheritable copy of its own, and the list
  // of handles to inherit names only those copies: a child never holds another run's pipe.
  std::array<Handle, 3> copies;
  const std::array<HANDLE, 3> given{start.std_input, start.std_output, start.std_error};
  std::vector<HANDLE> inherited;
  for (std::size_t index = 0; index < given.size(); ++index) {
    if (given[index] == nullptr || given[index] == INVALID_HANDLE_VALUE) continue;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), given[index], GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
      return std::unexpected(GetLastError());
    }
    copies[index] = Handle(copy);
    inherited.push_back(copy);
  }

  STARTUPINFOEXW info{};
  info.StartupInfo.cb = sizeof info.StartupInfo;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdInput = copies[0].get();
  info.StartupInfo.hStdOutput = copies[1].get();
  info.StartupInfo.hStdError = copies[2].get();

  DWORD flags = start.creation_flags;
  InheritList inherit_list(inherited);
  if (!inherited.empty()) {
    auto list = inherit_list.make();
    if (!list) return std::unexpected(list.error());
    info.lpAttributeList = *list;
    info.StartupInfo.cb = sizeof info;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  if (start.environment) flags |= CREATE_UNICODE_ENVIRONMENT;

  std::wstring command_line = start.command_line;  // the call may write into it
  void* environment = start.environment ? const_cast<wchar_t*>(start.environment->data()) : nullptr;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(start.application.c_str(), command_line.data(), nullptr, nullptr,
                      inherited.empty() ? FALSE : TRUE, flags, environment, nullptr,
                      &info.StartupInfo, &process)) {
    return std::unexpected(GetLastError());
  }
  CloseHandle(process.hThread);
  return Handle(process.hProcess);
}

}  // namespace zelk::win
