#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/utf8_text.h"
#include "platform/clipboard.h"
#include "platform/posix/x11_quiet_errors.h"

namespace lintrel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long the window in front has to fetch the text after Ctrl+V. A program reads the
// clipboard when it handles the key, which a responsive one does within milliseconds; the
// bound is the patience the keyboard has with a program that does not answer its ping, so
// that a busy program is waited for as long for a paste as for keys, and a window that does
// not paste at all (a terminal, where Ctrl+V is no paste) costs a line two seconds.
constexpr std::chrono::milliseconds kTakeWait{2000};
// How long the clipboard's owner has to answer one request for its contents, or for the next
// part of a large one.
constexpr std::chrono::milliseconds kAnswerWait{1000};
// The most that is kept of the clipboard's previous contents, all its forms together; a form
// that would go beyond is left out. Also the most forms kept.
constexpr std::size_t kMaxKeptBytes = 64 * 1024 * 1024;
constexpr std::size_t kMaxKeptForms = 64;
// The largest part of a transfer sent in one property (the server's request limit is higher
// as a rule); larger data goes in parts (INCR).
constexpr std::size_t kMaxPartBytes = 256 * 1024;

// One form the clipboard's contents are offered in, as a property holds it.
struct Form {
  Atom target = None;  // what a requestor asks for
  Atom type = None;    // the property type it is given as
  int format = 8;      // 8, 16 or 32 bits an item
  unsigned long items = 0;
  // As Xlib hands a property over: 32-bit items as longs.
  std::vector<unsigned char> data;

  std::size_t ItemBytes() const { return format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8); }
  std::size_t WireBytes() const { return items * static_cast<std::size_t>(format / 8); }
};
using Contents = std::vector<std::shared_ptr<const Form>>;

// Data sent in parts (INCR) to a requestor, which deletes each part to ask for the next.
struct Transfer {
  Window requestor = None;
  Atom property = None;
  std::shared_ptr<const Form> form;
  unsigned long next_item = 0;
  bool paste = false;  // the pasted text: taken once the last part is sent
  Clock::time_point last_step;
};

std::string Latin1(const std::string& utf8) {
  std::string text;
  for (char32_t character : DecodeUtf8(utf8)) {
    text += character < 0x100 ? static_cast<char>(character) : '?';
  }
  return text;
}

// The CLIPBOARD selection through a connection and thread of its own. The thread serves the
// selection whenever Lintrel owns it: the pasted text while a paste lasts, the previous
// contents afterwards, for as long as no other program takes the clipboard. The typist's
// calls are carried out on that thread, one at a time, and the caller waits for each.
//
// Putting back: when the paste takes the clipboard, its owner is told it lost it and most
// programs forget their copy then, so there is no handing it back. What it held is read
// before (every form it offers, as far as kMaxKeptBytes goes) and served again by Lintrel
// afterwards, as a clipboard manager serves a copy of a program that ended. Lintrel serves it
// until another program takes the clipboard, or until lintrel-cli ends: the copy goes then.
class X11Clipboard : public Clipboard {
 public:
  X11Clipboard(Display* display, int wake) : display_(display), wake_(wake) {
    QuietenErrorsOf(display_, &lost_);
    const Window root = DefaultRootWindow(display_);
    window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display_, window_, PropertyChangeMask);
    XStoreName(display_, window_, "Lintrel clipboard");
    clipboard_ = Intern("CLIPBOARD");
    targets_ = Intern("TARGETS");
    timestamp_ = Intern("TIMESTAMP");
    incr_ = Intern("INCR");
    utf8_ = Intern("UTF8_STRING");
    text_ = Intern("TEXT");
    text_plain_utf8_ = Intern("text/plain;charset=utf-8");
    incoming_ = Intern("_LINTREL_CLIPBOARD");
    clock_property_ = Intern("_LINTREL_TIME");
    for (const char* name : {"MULTIPLE", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION", "INSERT_PROPERTY"}) {
      not_kept_.push_back(Intern(name));
    }
    not_kept_.insert(not_kept_.end(), {targets_, timestamp_});
    XFlush(display_);
    thread_ = std::thread([this] { Run(); });
  }

  ~X11Clipboard() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    Wake();
    thread_.join();
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
    ForgetQuietConnection(display_);
    close(wake_);
  }
  X11Clipboard(const X11Clipboard&) = delete;
  X11Clipboard& operator=(const X11Clipboard&) = delete;

  bool Save(std::string* error) override {
    return OnThread([this, error] { return DoSave(error); });
  }
  bool PutText(const std::string& text, std::string* error) override {
    return OnThread([this, &text, error] { return DoPutText(text, error); });
  }
  bool AwaitTaken(std::string* error) override {
    return OnThread([this, error] { return DoAwaitTaken(error); });
  }
  bool Restore(std::string* error) override {
    return OnThread([this, error] { return DoRestore(error); });
  }

 private:
  Atom Intern(const char* name) { return XInternAtom(display_, name, False); }

  // Runs `work` on the clipboard's thread and returns its answer.
  bool OnThread(std::function<bool()> work) {
    std::unique_lock<std::mutex> lock(mutex_);
    command_ = std::move(work);
    Wake();
    done_.wait(lock, [this] { return !command_; });
    return answer_;
  }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
  }

  void Run() {
    for (;;) {
      HandlePendingEvents();
      std::function<bool()> command;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        command = command_;
      }
      if (command) {
        const bool answer = command();
        std::lock_guard<std::mutex> lock(mutex_);
        answer_ = answer;
        command_ = nullptr;
        done_.notify_all();
        continue;
      }
      Poll(-1);
    }
  }

  // Waits for an event or a command; `timeout_ms` -1: for ever.
  void Poll(int timeout_ms) {
    std::array<pollfd, 2> waits{{{wake_, POLLIN, 0}, {ConnectionNumber(display_), POLLIN, 0}}};
    // A lost connection reads as ready for ever: only the commands are waited for then.
    poll(waits.data(), lost_ ? 1 : 2, timeout_ms);
    if (waits[0].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = read(wake_, &count, sizeof count);
    }
  }

  void HandlePendingEvents() {
    while (!lost_ && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      Handle(event);
    }
  }

  // Handles events until `take` takes one (true), or the deadline passes (false).
  bool Pump(Clock::time_point deadline, const std::function<bool(XEvent&)>& take) {
    for (;;) {
      while (!lost_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (take(event)) return true;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (lost_ || left.count() <= 0) return false;
      Poll(static_cast<int>(left.count()));
    }
  }

  // Handles events until `condition` holds; false when the deadline passed first.
  bool AwaitState(Clock::time_point deadline, const std::function<bool()>& condition) {
    if (condition()) return true;
    return Pump(deadline, [&](XEvent& event) {
      Handle(event);
      return condition();
    });
  }

  // Waits for the event `wanted` takes, handling the others meanwhile.
  std::optional<XEvent> AwaitEvent(Clock::time_point deadline, const std::function<bool(const XEvent&)>& wanted) {
    std::optional<XEvent> found;
    Pump(deadline, [&](XEvent& event) {
      if (wanted(event)) {
        found = event;
        return true;
      }
      Handle(event);
      return false;
    });
    return found;
  }

  void Handle(const XEvent& event) {
    switch (event.type) {
      case SelectionRequest:
        Serve(event.xselectionrequest);
        break;
      case SelectionClear:
        if (event.xselectionclear.selection != clipboard_) break;
        // Another program put something of its own on the clipboard: newer than anything
        // Lintrel holds.
        owned_ = false;
        contents_.reset();
        if (pasting_) taken_by_other_ = true;
        break;
      case PropertyNotify:
        if (event.xproperty.state == PropertyDelete) ContinueTransfer(event.xproperty.window, event.xproperty.atom);
        break;
      default:
        break;
    }
  }

  // --- Reading what the clipboard holds

  bool DoSave(std::string* error) {
    if (lost_) return Lost(error);
    saved_.reset();
    const Window owner = XGetSelectionOwner(display_, clipboard_);
    if (owner == None) return true;
    if (owner == window_ && owned_) {
      // What Lintrel serves is the copy it put back after the last paste.
      saved_ = contents_;
      return true;
    }
    const std::optional<Form> offered = Fetch(targets_);
    if (!offered || offered->format != 32) {
      *error = "the program that holds it did not say what it holds";
      return false;
    }
    auto kept = std::make_shared<Contents>();
    std::size_t kept_bytes = 0;
    const auto* targets = reinterpret_cast<const long*>(offered->data.data());
    for (unsigned long i = 0; i < offered->items && kept->size() < kMaxKeptForms; ++i) {
      const Atom target = static_cast<Atom>(targets[i]);
      if (std::find(not_kept_.begin(), not_kept_.end(), target) != not_kept_.end()) continue;
      std::optional<Form> form = Fetch(target);
      if (!form || form->type == None || kept_bytes + form->data.size() > kMaxKeptBytes) continue;
      kept_bytes += form->data.size();
      form->target = target;
      kept->push_back(std::make_shared<const Form>(std::move(*form)));
    }
    saved_ = std::move(kept);
    return true;
  }

  // The clipboard's contents in the form `target`, in parts if its owner sends them so;
  // nothing when it refuses or does not answer in time.
  std::optional<Form> Fetch(Atom target) {
    XDeleteProperty(display_, window_, incoming_);
    XConvertSelection(display_, clipboard_, target, incoming_, window_, CurrentTime);
    XFlush(display_);
    const std::optional<XEvent> notice = AwaitEvent(Clock::now() + kAnswerWait, [&](const XEvent& event) {
      return event.type == SelectionNotify && event.xselection.requestor == window_ &&
             event.xselection.selection == clipboard_;
    });
    if (!notice || notice->xselection.property == None) return std::nullopt;
    std::optional<Form> form = TakeProperty();
    if (!form || form->type != incr_) return form;
    // In parts: each part is a new value of the property, taken (deleted) to ask for the next;
    // an empty part ends it.
    Form whole;
    for (;;) {
      const std::optional<XEvent> part = AwaitEvent(Clock::now() + kAnswerWait, [&](const XEvent& event) {
        return event.type == PropertyNotify && event.xproperty.window == window_ &&
               event.xproperty.atom == incoming_ && event.xproperty.state == PropertyNewValue;
      });
      if (!part) return std::nullopt;
      std::optional<Form> piece = TakeProperty();
      if (!piece) return std::nullopt;
      if (piece->type == None) continue;  // a notice of a value already taken
      if (piece->items == 0) return whole;
      if (whole.data.size() + piece->data.size() > kMaxKeptBytes) return std::nullopt;
      whole.type = piece->type;
      whole.format = piece->format;
      whole.items += piece->items;
      whole.data.insert(whole.data.end(), piece->data.begin(), piece->data.end());
    }
  }

  // Reads and deletes the property the owner answered in.
  std::optional<Form> TakeProperty() {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    // The length is in 32-bit units: all of it, whatever the server holds.
    if (XGetWindowProperty(display_, window_, incoming_, 0, 0x1FFFFFFF, True, AnyPropertyType, &type, &format,
                           &items, &after, &data) != Success) {
      return std::nullopt;
    }
    Form form;
    form.type = type;
    form.format = format == 0 ? 8 : format;
    form.items = items;
    if (data != nullptr) {
      form.data.assign(data, data + items * form.ItemBytes());
      XFree(data);
    }
    return form;
  }

  // --- Owning the clipboard

  bool DoPutText(const std::string& text, std::string* error) {
    if (lost_) return Lost(error);
    auto paste = std::make_shared<Contents>();
    const std::string latin1 = Latin1(text);
    for (Atom target : {utf8_, text_plain_utf8_, text_}) {
      paste->push_back(TextForm(target, target == text_ ? utf8_ : target, text));
    }
    paste->push_back(TextForm(XA_STRING, XA_STRING, latin1));
    const std::optional<Time> now = ServerTime();
    if (!now) {
      *error = "the X server did not answer";
      return false;
    }
    XSetSelectionOwner(display_, clipboard_, window_, *now);
    if (XGetSelectionOwner(display_, clipboard_) != window_) {
      *error = "the X server did not give it to Lintrel";
      return false;
    }
    owned_ = true;
    owned_since_ = *now;
    reader_client_ = FocusClient();
    contents_ = std::move(paste);
    pasting_ = true;
    taken_ = false;
    taken_by_other_ = false;
    return true;
  }

  // The client of the window with the keyboard focus; 0 for none (the root window's is the
  // server's) or not known.
  unsigned long FocusClient() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    const bool no_window = focus == None || focus == PointerRoot || focus == DefaultRootWindow(display_);
    return no_window ? 0 : ClientOf(focus);
  }

  static std::shared_ptr<const Form> TextForm(Atom target, Atom type, const std::string& text) {
    Form form;
    form.target = target;
    form.type = type;
    form.items = text.size();
    form.data.assign(text.begin(), text.end());
    return std::make_shared<const Form>(std::move(form));
  }

  // The server's time now, for owning the selection (ICCCM: never CurrentTime): the time of
  // a property change of Lintrel's own window.
  std::optional<Time> ServerTime() {
    XChangeProperty(display_, window_, clock_property_, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XFlush(display_);
    const std::optional<XEvent> change = AwaitEvent(Clock::now() + kAnswerWait, [&](const XEvent& event) {
      return event.type == PropertyNotify && event.xproperty.window == window_ &&
             event.xproperty.atom == clock_property_;
    });
    if (!change) return std::nullopt;
    return change->xproperty.time;
  }

  bool DoAwaitTaken(std::string* error) {
    if (lost_) return Lost(error);
    if (AwaitState(Clock::now() + kTakeWait, [this] { return taken_ || taken_by_other_; }) && taken_) return true;
    if (taken_by_other_) {
      *error = "another program took the clipboard before the window in front pasted";
    } else {
      *error = "the window in front did not take the pasted text within " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kTakeWait).count()) + " s";
    }
    return lost_ ? Lost(error) : false;
  }

  bool DoRestore(std::string* error) {
    pasting_ = false;
    std::shared_ptr<const Contents> saved = std::move(saved_);
    if (lost_) return Lost(error);
    // The clipboard another program took meanwhile is newer: it stays.
    if (!owned_) return true;
    if (saved && !saved->empty()) {
      contents_ = std::move(saved);
      return true;
    }
    // It was empty: it is again.
    XSetSelectionOwner(display_, clipboard_, None, owned_since_);
    XFlush(display_);
    owned_ = false;
    contents_.reset();
    return true;
  }

  bool Lost(std::string* error) const {
    *error = "the X server is gone";
    return false;
  }

  // --- Serving the clipboard

  void Serve(const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = display_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    // A requestor of old gives no property: the target's name is the property then.
    const Atom property = request.property != None ? request.property : request.target;
    const bool ours = owned_ && contents_ && request.selection == clipboard_ &&
                      (request.time == CurrentTime || request.time >= owned_since_);
    bool taken = false;
    const bool by_reader = pasting_ && IsPasteReader(request.requestor);
    if (ours && request.target == targets_) {
      std::vector<long> targets = {static_cast<long>(targets_), static_cast<long>(timestamp_)};
      for (const auto& form : *contents_) targets.push_back(static_cast<long>(form->target));
      XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(targets.data()), static_cast<int>(targets.size()));
      reply.property = property;
    } else if (ours && request.target == timestamp_) {
      const long time = static_cast<long>(owned_since_);
      XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&time), 1);
      reply.property = property;
    } else if (ours) {
      const auto form = std::find_if(contents_->begin(), contents_->end(),
                                     [&](const auto& offered) { return offered->target == request.target; });
      if (form != contents_->end()) {
        taken = Send(request.requestor, property, *form) && by_reader;
        reply.property = property;
      }
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    if (taken) {
      // Processed by the server before the keys that follow the paste, which come through
      // another connection.
      XSync(display_, False);
      taken_ = true;
    } else {
      XFlush(display_);
    }
  }

  // Puts the form in the requestor's property: whole, or the start of a transfer in parts.
  // True when it is there whole.
  bool Send(Window requestor, Atom property, const std::shared_ptr<const Form>& form) {
    if (form->WireBytes() <= kMaxPartBytes) {
      XChangeProperty(display_, requestor, property, form->type, form->format, PropModeReplace, form->data.data(),
                      static_cast<int>(form->items));
      return true;
    }
    XSelectInput(display_, requestor, PropertyChangeMask);
    const long size = static_cast<long>(form->WireBytes());
    XChangeProperty(display_, requestor, property, incr_, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    transfers_.push_back({requestor, property, form, 0, pasting_ && IsPasteReader(requestor), Clock::now()});
    return false;
  }

  // The X client a window belongs to (its resource-id base), 0 when the server does not say.
  unsigned long ClientOf(Window window) {
    XResClientIdSpec spec{window, XRES_CLIENT_ID_XID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display_, 1, &spec, &count, &values) != Success) return 0;
    unsigned long client = 0;
    for (long i = 0; i < count; ++i) {
      if (XResGetClientIdType(&values[i]) == XRES_CLIENT_ID_XID) client = values[i].spec.client;
    }
    XResClientIdsDestroy(count, values);
    return client;
  }

  // Whether a request for the pasted text is the paste's: the program of the window that has
  // the keyboard focus, which Ctrl+V went to. A program that reads every new copy at once (a
  // clipboard manager, a clipboard history) is given the text too, but its read must not put
  // the clipboard back before the window in front has read it. Where the focus or the
  // requestor's program is not known, every read counts.
  bool IsPasteReader(Window requestor) {
    return reader_client_ == 0 || ClientOf(requestor) == reader_client_;
  }

  // The requestor took a part: the next one, or the empty one that ends the transfer.
  void ContinueTransfer(Window requestor, Atom property) {
    // A requestor that stopped taking parts is given up.
    std::erase_if(transfers_, [](const Transfer& transfer) { return Clock::now() - transfer.last_step > kAnswerWait * 5; });
    const auto transfer = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& candidate) {
      return candidate.requestor == requestor && candidate.property == property;
    });
    if (transfer == transfers_.end()) return;
    const Form& form = *transfer->form;
    const unsigned long per_part = kMaxPartBytes / static_cast<std::size_t>(form.format / 8);
    const unsigned long items = std::min(per_part, form.items - transfer->next_item);
    XChangeProperty(display_, requestor, property, form.type, form.format, PropModeReplace,
                    form.data.data() + transfer->next_item * form.ItemBytes(), static_cast<int>(items));
    transfer->next_item += items;
    transfer->last_step = Clock::now();
    if (items == 0) {
      const bool paste = transfer->paste;
      XSelectInput(display_, requestor, NoEventMask);
      transfers_.erase(transfer);
      if (paste) {
        XSync(display_, False);
        taken_ = true;
        return;
      }
    }
    XFlush(display_);
  }

  Display* const display_;
  const int wake_;  // an eventfd: a command waits, or the thread is to end
  bool lost_ = false;
  Window window_ = None;
  Atom clipboard_ = None, targets_ = None, timestamp_ = None, incr_ = None, utf8_ = None, text_ = None,
       text_plain_utf8_ = None, incoming_ = None, clock_property_ = None;
  std::vector<Atom> not_kept_;  // targets that are requests, not forms of the contents

  // The clipboard thread's alone.
  bool owned_ = false;
  Time owned_since_ = CurrentTime;
  std::shared_ptr<const Contents> contents_;  // what is served while owned
  std::shared_ptr<const Contents> saved_;     // what Save() kept; null: nothing
  bool pasting_ = false;
  bool taken_ = false;
  bool taken_by_other_ = false;
  unsigned long reader_client_ = 0;  // of the window the paste goes to; 0: not known
  std::list<Transfer> transfers_;

  std::mutex mutex_;
  std::condition_variable done_;
  std::function<bool()> command_;  // set: waits to be run
  bool answer_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Clipboard> OpenSystemClipboard(std::string* error) {
  // Other threads of the process use Xlib with connections of their own.
  XInitThreads();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const std::string name = XDisplayName(nullptr);
    *error = name.empty() ? "cannot open X display: DISPLAY is not set"
                          : "cannot open X display \"" + name + "\" for the clipboard";
    return nullptr;
  }
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    XCloseDisplay(display);
    *error = "no eventfd for the clipboard's thread";
    return nullptr;
  }
  return std::make_unique<X11Clipboard>(display, wake);
}

}  // namespace lintrel::platform
