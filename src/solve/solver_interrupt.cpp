// The interrupt callback given to HiGHS and the SIGINT wrapper around CasADi solver calls.
#include "solve/solver_interrupt.hpp"

#include "solve/arrays.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velmo {

using py::Ref;
using namespace pycall;

namespace {

constexpr const char* kCapsule = "velmo.highs_signal_watch";

// callback(type, message, data_out, data_in, user_data), called by highspy with the
// interpreter lock held on the thread running HiGHS.
PyObject* on_highs_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  auto* state = static_cast<HighsSignalWatch::State*>(PyCapsule_GetPointer(self, kCapsule));
  if (state == nullptr) return nullptr;
  if (!state->stopped && PyErr_CheckSignals() < 0) {
    // Kept for after run(): an exception raised into HiGHS's callback would be lost there.
    PyErr_Fetch(&state->type, &state->value, &state->trace);
    state->stopped = true;
  }
  if (state->stopped && nargs >= 4 && args[3] != Py_None) {
    if (PyObject_SetAttrString(args[3], "user_interrupt", Py_True) < 0) return nullptr;
  }
  Py_RETURN_NONE;
}

template <class State>
void release_exception(State* state) {
  Py_XDECREF(state->type);
  Py_XDECREF(state->value);
  Py_XDECREF(state->trace);
  state->type = state->value = state->trace = nullptr;
}

// Restores the kept exception as the current error and throws.
template <class State>
[[noreturn]] void raise_kept(State* state) {
  PyErr_Restore(state->type, state->value, state->trace);
  state->type = state->value = state->trace = nullptr;
  throw py::ErrorAlreadySet{};
}

// The capsule's destructor: drops a kept exception and the state.
template <class State, const char* const* Name>
void free_state(PyObject* capsule) {
  auto* state = static_cast<State*>(PyCapsule_GetPointer(capsule, *Name));
  if (state == nullptr) {
    PyErr_Clear();
    return;
  }
  release_exception(state);
  delete state;
}

PyMethodDef callback_def = {"velmo_highs_interrupt", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(on_highs_callback)),
                            METH_FASTCALL, nullptr};

}  // namespace

HighsSignalWatch::HighsSignalWatch(PyObject* highs, PyObject* highspy) : highs_(highs) {
  auto* state = new State();
  PyObject* made = PyCapsule_New(state, kCapsule, free_state<HighsSignalWatch::State, &kCapsule>);
  if (made == nullptr) delete state;
  Ref capsule = py::check(made);
  state_ = state;
  callback_ = py::check(PyCFunction_NewEx(&callback_def, capsule.get(), nullptr));
  // A highspy without callbacks runs unwatched (Ctrl-C then waits for the run's end).
  PyObject* cb = PyObject_GetAttrString(highspy, "cb");
  PyObject* kinds = cb == nullptr ? nullptr : PyObject_GetAttrString(cb, "HighsCallbackType");
  PyObject* members = kinds == nullptr ? nullptr : PyObject_GetAttrString(kinds, "__members__");
  Py_XDECREF(cb);
  Py_XDECREF(kinds);
  if (members == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
    return;
  }
  Ref types = Ref::steal(members);
  call_method(highs, "setCallback", callback_.get(), Py_None);
  for (const char* name : {"kCallbackSimplexInterrupt", "kCallbackIpmInterrupt", "kCallbackMipInterrupt"}) {
    PyObject* type = PyMapping_GetItemString(types.get(), name);
    if (type == nullptr) {
      PyErr_Clear();  // an older HiGHS without this kind of run: nothing to watch there
      continue;
    }
    Ref hold = Ref::steal(type);
    call_method(highs, "startCallback", type);
  }
}

HighsSignalWatch::~HighsSignalWatch() {
  // The callback is removed whatever happened; an error in flight is kept.
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyObject* r = PyObject_CallMethod(highs_, "setCallback", "OO", Py_None, Py_None);
  Py_XDECREF(r);
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

void HighsSignalWatch::raise_if_stopped() {
  if (state_->stopped) raise_kept(state_);
}

namespace {

constexpr const char* kGuardCapsule = "velmo.casadi_signal_guard";

// handler(signum, frame): the previous handler, with what it raises kept and passed on.
PyObject* on_sigint(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  auto* state = static_cast<CasadiSignalGuard::State*>(PyCapsule_GetPointer(self, kGuardCapsule));
  if (state == nullptr) return nullptr;
  PyObject* call_args = PyTuple_New(nargs);
  if (call_args == nullptr) return nullptr;
  for (Py_ssize_t k = 0; k < nargs; ++k) PyTuple_SetItem(call_args, k, Ref::borrow(args[k]).release());
  PyObject* r = PyObject_Call(state->previous.get(), call_args, nullptr);
  Py_DECREF(call_args);
  if (r != nullptr || state->stopped) return r;
  PyErr_Fetch(&state->type, &state->value, &state->trace);
  PyErr_NormalizeException(&state->type, &state->value, &state->trace);
  state->stopped = true;
  Py_XINCREF(state->type);
  Py_XINCREF(state->value);
  Py_XINCREF(state->trace);
  PyErr_Restore(state->type, state->value, state->trace);
  return nullptr;
}


PyMethodDef sigint_def = {"velmo_sigint", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(on_sigint)),
                          METH_FASTCALL, nullptr};

}  // namespace

CasadiSignalGuard::CasadiSignalGuard() {
  Ref signal = import("signal");
  Ref sigint = attr(signal.get(), "SIGINT");
  Ref previous = call_method(signal.get(), "getsignal", sigint.get());
  if (!PyCallable_Check(previous.get())) return;  // SIG_DFL, SIG_IGN or None: nothing to wrap
  auto* state = new State();
  PyObject* made = PyCapsule_New(state, kGuardCapsule, free_state<CasadiSignalGuard::State, &kGuardCapsule>);
  if (made == nullptr) delete state;
  capsule_ = py::check(made);
  state_ = state;
  state_->previous = std::move(previous);
  Ref handler = py::check(PyCFunction_NewEx(&sigint_def, capsule_.get(), nullptr));
  Ref done = Ref::steal(PyObject_CallMethod(signal.get(), "signal", "OO", sigint.get(), handler.get()));
  if (!done) {
    // Off the main thread signal.signal refuses: no handler runs there anyway.
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
    return;
  }
  signal_ = std::move(signal);
}

CasadiSignalGuard::~CasadiSignalGuard() {
  if (!signal_) return;
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyObject* sigint = PyObject_GetAttrString(signal_.get(), "SIGINT");
  PyObject* r = sigint == nullptr ? nullptr
                                  : PyObject_CallMethod(signal_.get(), "signal", "OO", sigint, state_->previous.get());
  Py_XDECREF(sigint);
  Py_XDECREF(r);
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

void CasadiSignalGuard::raise_if_stopped() {
  if (signal_ && state_->stopped) raise_kept(state_);
}

namespace {

// Bonmin's flags in the loaded library. Only the abort flag is exported; the other two are
// file-local, found through the library's own symbol table (kept in the shipped file).
struct BonminFlags {
  bool* abort_all = nullptr;
  bool* stopped_once = nullptr;      // the handler exits the process when this is already set
  void** current_model = nullptr;    // the run's branch-and-bound model, left dangling after it
  void* signal_slot = nullptr;       // where the library keeps the address of signal()
  bool slot_read_only = false;       // the slot lies in memory made read-only after loading
};

// Relocations that leave a function's address in a slot of its own.
bool is_slot_relocation(std::uint64_t type) {
#if defined(__x86_64__)
  return type == R_X86_64_JUMP_SLOT || type == R_X86_64_GLOB_DAT;
#elif defined(__aarch64__)
  return type == R_AARCH64_JUMP_SLOT || type == R_AARCH64_GLOB_DAT;
#else
  return false;  // unknown layout: the slot is left alone
#endif
}

// Reads `count` items of T at `offset` of the file, or nothing.
template <class T>
std::vector<T> read_at(std::FILE* file, std::uint64_t offset, std::uint64_t count) {
  std::vector<T> items(count);
  if (count == 0 || std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(items.data(), sizeof(T), count, file) != count) {
    items.clear();
  }
  return items;
}

// The relocated slot through which the library calls signal(), and whether it is read-only.
void find_signal_slot(std::FILE* file, const Elf64_Ehdr& header, const std::vector<Elf64_Shdr>& sections,
                      std::uintptr_t bias, BonminFlags& flags) {
  for (const Elf64_Shdr& relocs : sections) {
    if (relocs.sh_type != SHT_RELA || relocs.sh_link >= sections.size()) continue;
    const Elf64_Shdr& dynsym = sections[relocs.sh_link];
    if (dynsym.sh_type != SHT_DYNSYM || dynsym.sh_link >= sections.size()) continue;
    const auto symbols = read_at<Elf64_Sym>(file, dynsym.sh_offset, dynsym.sh_size / sizeof(Elf64_Sym));
    const auto names = read_at<char>(file, sections[dynsym.sh_link].sh_offset, sections[dynsym.sh_link].sh_size);
    if (names.empty() || names.back() != '\0') continue;
    for (const Elf64_Rela& r : read_at<Elf64_Rela>(file, relocs.sh_offset, relocs.sh_size / sizeof(Elf64_Rela))) {
      const auto k = ELF64_R_SYM(r.r_info);
      if (!is_slot_relocation(ELF64_R_TYPE(r.r_info))) continue;
      if (k == 0 || k >= symbols.size() || symbols[k].st_name >= names.size()) continue;
      if (std::strcmp(names.data() + symbols[k].st_name, "signal") != 0) continue;
      flags.signal_slot = reinterpret_cast<void*>(bias + r.r_offset);
    }
  }
  if (flags.signal_slot == nullptr || header.e_phentsize != sizeof(Elf64_Phdr)) {
    flags.signal_slot = nullptr;
    return;
  }
  const auto at = reinterpret_cast<std::uintptr_t>(flags.signal_slot);
  for (const Elf64_Phdr& segment : read_at<Elf64_Phdr>(file, header.e_phoff, header.e_phnum)) {
    if (segment.p_type == PT_GNU_RELRO && at >= bias + segment.p_vaddr && at < bias + segment.p_vaddr + segment.p_memsz) {
      flags.slot_read_only = true;
    }
  }
}

// Fills the file-local flags from the ELF symbol table of `path`, placing them by their
// distance from the exported flag, whose address in memory is known.
void find_local_flags(const char* path, BonminFlags& flags) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return;
  Elf64_Ehdr header{};
  const bool elf64 = std::fread(&header, sizeof header, 1, file) == 1 &&
                     std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
                     header.e_shentsize == sizeof(Elf64_Shdr);
  const auto sections = elf64 ? read_at<Elf64_Shdr>(file, header.e_shoff, header.e_shnum) : std::vector<Elf64_Shdr>{};
  for (const Elf64_Shdr& table : sections) {
    if (table.sh_type != SHT_SYMTAB || table.sh_link >= sections.size()) continue;
    const Elf64_Shdr& names_section = sections[table.sh_link];
    const auto symbols = read_at<Elf64_Sym>(file, table.sh_offset, table.sh_size / sizeof(Elf64_Sym));
    const auto names = read_at<char>(file, names_section.sh_offset, names_section.sh_size);
    if (names.empty() || names.back() != '\0') break;
    std::uint64_t abort_at = 0, once_at = 0, model_at = 0;
    for (const Elf64_Sym& sym : symbols) {
      if (ELF64_ST_TYPE(sym.st_info) != STT_OBJECT || sym.st_name >= names.size()) continue;
      const char* name = names.data() + sym.st_name;
      if (std::strcmp(name, "BonminAbortAll") == 0 && sym.st_size == sizeof(bool)) abort_at = sym.st_value;
      if (std::strcmp(name, "_ZL20BonminInteruptedOnce") == 0 && sym.st_size == sizeof(bool)) once_at = sym.st_value;
      if (std::strcmp(name, "_ZL18currentBranchModel") == 0 && sym.st_size == sizeof(void*)) model_at = sym.st_value;
    }
    if (abort_at == 0) break;
    const std::uintptr_t bias = reinterpret_cast<std::uintptr_t>(flags.abort_all) - abort_at;
    if (once_at != 0) flags.stopped_once = reinterpret_cast<bool*>(bias + once_at);
    if (model_at != 0) flags.current_model = reinterpret_cast<void**>(bias + model_at);
    find_signal_slot(file, header, sections, bias, flags);
    break;
  }
  std::fclose(file);
}

using SignalHandler = void (*)(int);
SignalHandler bonmin_sigint_handler = nullptr;  // the handler Bonmin asked for
bool* bonmin_stopped_once = nullptr;

// Bonmin's handler answers a SIGINT that comes while the run is already stopping by calling
// exit() (which may also hang, exit not being safe in a signal handler): only the first one is
// passed on.
void forward_first_sigint(int signum) {
  if (*bonmin_stopped_once) return;
  bonmin_sigint_handler(signum);
}

// Takes the place of signal() for the Bonmin library.
SignalHandler bonmin_signal(int signum, SignalHandler handler) {
  if (signum == SIGINT && handler != SIG_DFL && handler != SIG_IGN && handler != SIG_ERR) {
    bonmin_sigint_handler = handler;
    handler = forward_first_sigint;
  }
  return signal(signum, handler);
}

void divert_bonmin_signal(const BonminFlags& flags) {
  if (flags.signal_slot == nullptr || flags.stopped_once == nullptr) return;
  bonmin_stopped_once = flags.stopped_once;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(flags.signal_slot) & ~(page - 1));
  if (flags.slot_read_only && mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return;
  SignalHandler (*replacement)(int, SignalHandler) = bonmin_signal;
  std::memcpy(flags.signal_slot, &replacement, sizeof replacement);
  if (flags.slot_read_only) mprotect(start, page, PROT_READ);
}

// The flags of the Bonmin library CasADi has loaded; all null before it is loaded. The file is
// read once per place the library is loaded at.
BonminFlags bonmin_flags() noexcept {
  static void* cached_base = nullptr;
  static BonminFlags cached;
  // RTLD_NOLOAD: only a library CasADi has already loaded is looked at.
  void* lib = dlopen("libbonmin.so.4", RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return {};
  BonminFlags flags;
  flags.abort_all = static_cast<bool*>(dlsym(lib, "BonminAbortAll"));
  Dl_info info{};
  if (flags.abort_all != nullptr && dladdr(flags.abort_all, &info) != 0 && info.dli_fname != nullptr) {
    if (info.dli_fbase != cached_base || cached.abort_all != flags.abort_all) {
      try {
        find_local_flags(info.dli_fname, flags);
      } catch (...) {  // out of memory reading the table: the exported flag alone
      }
      divert_bonmin_signal(flags);
      cached = flags;
      cached_base = info.dli_fbase;
    }
    flags = cached;
  }
  dlclose(lib);  // balances this dlopen; CasADi keeps its own reference
  return flags;
}

// Clears the flags; true when the handler had run.
bool take_bonmin_flags() noexcept {
  const BonminFlags flags = bonmin_flags();
  bool was_set = false;
  if (flags.abort_all != nullptr) {
    was_set = *flags.abort_all;
    *flags.abort_all = false;
  }
  if (flags.stopped_once != nullptr) {
    was_set = was_set || *flags.stopped_once;
    *flags.stopped_once = false;
  }
  if (flags.current_model != nullptr) *flags.current_model = nullptr;
  return was_set;
}

int bonmin_runs = 0;                // Bonmin runs under way
struct sigaction sigint_before{};  // SIGINT's handler before the first of them

}  // namespace

BonminRunGuard::BonminRunGuard() noexcept {
  if (bonmin_runs++ > 0) return;
  sigaction(SIGINT, nullptr, &sigint_before);
  take_bonmin_flags();  // an earlier interrupted run (ours or not) leaves them set
}

BonminRunGuard::~BonminRunGuard() { finish(); }

bool BonminRunGuard::finish() noexcept {
  if (finished_) return false;
  finished_ = true;
  if (--bonmin_runs == 0) sigaction(SIGINT, &sigint_before, nullptr);
  return take_bonmin_flags();
}

}  // namespace velmo
