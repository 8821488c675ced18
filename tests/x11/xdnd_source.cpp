// The X-server suite's drag source: plain Xlib speaking XDND itself, so that nothing between the press and
// the drop is left to a toolkit's guess (xdotool moves the pointer and presses the button).
//   ocelo_xdnd_source STATUS X Y PATH...
// Shows a window at X,Y; a press of button 1 in it starts dragging the paths as a text/uri-list. STATUS
// reads "started" once the drag is on its way, "accepted" once a target takes it, then "dropped" when the
// target reports the drop done, or "refused".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string g_status_path;

void WriteStatus(const char* text) {
  const std::string temporary = g_status_path + ".tmp";
  if (FILE* file = std::fopen(temporary.c_str(), "w")) {
    std::fprintf(file, "%s\n", text);
    std::fclose(file);
    std::rename(temporary.c_str(), g_status_path.c_str());
  }
}

// file:// and the path with every byte outside the unreserved set percent-encoded.
std::string FileUri(const std::string& path) {
  std::string uri = "file://";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("/-._~", c)) {
      uri += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    }
  }
  return uri;
}

struct Atoms {
  Atom aware, enter, position, status, drop, finished, leave, selection, copy, uri_list;
  explicit Atoms(Display* display)
      : aware(XInternAtom(display, "XdndAware", False)),
        enter(XInternAtom(display, "XdndEnter", False)),
        position(XInternAtom(display, "XdndPosition", False)),
        status(XInternAtom(display, "XdndStatus", False)),
        drop(XInternAtom(display, "XdndDrop", False)),
        finished(XInternAtom(display, "XdndFinished", False)),
        leave(XInternAtom(display, "XdndLeave", False)),
        selection(XInternAtom(display, "XdndSelection", False)),
        copy(XInternAtom(display, "XdndActionCopy", False)),
        uri_list(XInternAtom(display, "text/uri-list", False)) {}
};

bool IsAware(Display* display, Window window, Atom aware) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, left = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(display, window, aware, 0, 1, False, AnyPropertyType, &type, &format, &count,
                                        &left, &data) == Success &&
                     type != None;
  if (data != nullptr) XFree(data);
  return found;
}

// The XDND-aware window under the point, looked for from the top-level window down through the window
// manager's frames; None when there is none.
Window TargetAt(Display* display, Window root, Window self, int x, int y, Atom aware) {
  Window window = root, child = None;
  int cx = 0, cy = 0;
  while (XTranslateCoordinates(display, root, window, x, y, &cx, &cy, &child) && child != None) {
    window = child;
    if (window == self) return None;
    if (IsAware(display, window, aware)) return window;
  }
  return None;
}

void Send(Display* display, Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.display = display;
  event.xclient.window = target;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  event.xclient.data.l[0] = l0;
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  event.xclient.data.l[3] = l3;
  event.xclient.data.l[4] = l4;
  XSendEvent(display, target, False, NoEventMask, &event);
  XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: ocelo_xdnd_source STATUS X Y PATH...\n", stderr);
    return 2;
  }
  g_status_path = argv[1];
  std::string uri_list;
  for (int i = 4; i < argc; ++i) uri_list += FileUri(argv[i]) + "\r\n";

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  const Atoms atoms(display);
  XSetWindowAttributes attributes{};
  attributes.background_pixel = 0xFF00FF;
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
  const Window self = XCreateWindow(display, root, std::atoi(argv[2]), std::atoi(argv[3]), 160, 100, 0, CopyFromParent,
                                    InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
  XStoreName(display, self, "ocelo-drag-source");
  XSizeHints hints{};
  hints.flags = USPosition | PPosition;
  hints.x = std::atoi(argv[2]);
  hints.y = std::atoi(argv[3]);
  XSetWMNormalHints(display, self, &hints);
  // The suite finds the window by its process.
  const long pid = static_cast<long>(getpid());
  XChangeProperty(display, self, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XMapWindow(display, self);
  XFlush(display);

  bool dragging = false, accepted = false, dropped = false;
  Window target = None;
  const int fd = ConnectionNumber(display);
  std::time_t last_event = std::time(nullptr);
  // A drag that nobody finishes ends after a minute, a bound only a lost target reaches.
  while (std::time(nullptr) - last_event < 60) {
    if (XPending(display) == 0) {
      fd_set read_set;
      FD_ZERO(&read_set);
      FD_SET(fd, &read_set);
      timeval wait{1, 0};
      select(fd + 1, &read_set, nullptr, nullptr, &wait);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    last_event = std::time(nullptr);
    switch (event.type) {
      case ButtonPress:
        if (event.xbutton.button != Button1 || dragging) break;
        XSetSelectionOwner(display, atoms.selection, self, event.xbutton.time);
        XGrabPointer(display, self, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync, GrabModeAsync, None,
                     None, event.xbutton.time);
        dragging = true;
        WriteStatus("started");
        break;
      case MotionNotify: {
        if (!dragging || dropped) break;
        const int x = event.xmotion.x_root, y = event.xmotion.y_root;
        const Window now = TargetAt(display, root, self, x, y, atoms.aware);
        if (now != target) {
          if (target != None) Send(display, target, atoms.leave, static_cast<long>(self), 0, 0, 0, 0);
          accepted = false;
          target = now;
          if (target != None) {
            Send(display, target, atoms.enter, static_cast<long>(self), 5L << 24, static_cast<long>(atoms.uri_list),
                 None, None);
          }
        }
        if (target != None) {
          Send(display, target, atoms.position, static_cast<long>(self), 0, (static_cast<long>(x) << 16) | y,
               static_cast<long>(event.xmotion.time), static_cast<long>(atoms.copy));
        }
        break;
      }
      case ClientMessage:
        if (event.xclient.message_type == atoms.status && static_cast<Window>(event.xclient.data.l[0]) == target) {
          const bool now = (event.xclient.data.l[1] & 1) != 0;
          if (now && !accepted) WriteStatus("accepted");
          accepted = now;
        } else if (event.xclient.message_type == atoms.finished) {
          WriteStatus((event.xclient.data.l[1] & 1) != 0 || accepted ? "dropped" : "refused");
          XCloseDisplay(display);
          return 0;
        }
        break;
      case ButtonRelease:
        if (!dragging || event.xbutton.button != Button1) break;
        XUngrabPointer(display, event.xbutton.time);
        if (target != None && accepted) {
          Send(display, target, atoms.drop, static_cast<long>(self), 0, static_cast<long>(event.xbutton.time), 0, 0);
          dropped = true;
        } else {
          if (target != None) Send(display, target, atoms.leave, static_cast<long>(self), 0, 0, 0, 0);
          WriteStatus("refused");
          XCloseDisplay(display);
          return 0;
        }
        break;
      case SelectionRequest: {
        const XSelectionRequestEvent& request = event.xselectionrequest;
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = display;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        reply.xselection.property = None;
        if (request.selection == atoms.selection && request.target == atoms.uri_list) {
          const Atom property = request.property != None ? request.property : request.target;
          XChangeProperty(display, request.requestor, property, atoms.uri_list, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(uri_list.data()), static_cast<int>(uri_list.size()));
          reply.xselection.property = property;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, &reply);
        XFlush(display);
        break;
      }
      default: break;
    }
  }
  WriteStatus("refused");
  XCloseDisplay(display);
  return 1;
}
