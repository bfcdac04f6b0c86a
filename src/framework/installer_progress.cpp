#include "framework/installer_progress.h"

#include <climits>
#include <cstring>

namespace {

// The installer writes its fields as "<label>: <value> ", labels 1 to 4 in
// order, for example "1: 2 2: 61223 3: 0 4: 0 ". The parsers below walk
// that form with one cursor; every step looks at the current character
// before moving past it, so no text, however short, is read past its end.

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Moves past a label and its ": ". False when the text ends first: a label
// cut off there carries no value.
bool SkipLabel(const char* text, std::size_t& pos) {
  for (int i = 0; i < 3; ++i) {
    if (text[pos] == '\0') return false;
    ++pos;
  }
  return true;
}

// The value of the token that runs to the next space or the end: an
// optional sign, then decimal digits up to the first non-digit. Values past
// the 32-bit range saturate instead of overflowing.
int TokenValue(const char* text, std::size_t& pos) {
  std::size_t end = pos;
  while (text[end] != '\0' && text[end] != ' ') ++end;
  std::size_t i = pos;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < end && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1LL + INT_MAX) value = 1LL + INT_MAX;
  }
  pos = end;
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

// After a field that did not end the parse: true when the text ends here
// or right after the one separator that follows the field.
bool EndsAfterField(const char* text, std::size_t& pos) {
  if (text[pos] == '\0') return true;
  ++pos;
  return text[pos] == '\0';
}

InstallerProgress g_handlerState;

}  // namespace

std::string InstallerProgressSink::ActionText(const char* message) {
  const char* last = nullptr;
  for (const char* p = std::strstr(message, ". "); p != nullptr;
       p = std::strstr(p + 1, ". ")) {
    last = p;
  }
  return last != nullptr ? std::string(last + 2) : std::string();
}

InstallerProgress& InstallerHandlerState() { return g_handlerState; }

bool InstallerProgress::ParseProgress(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  std::size_t pos = 0;
  for (;;) {
    const char label = text[pos];
    if (!SkipLabel(text, pos)) return false;
    switch (label) {
      case '1':
        // The message kind: one digit, nothing else is a progress message.
        if (!IsDigit(text[pos])) return false;
        progress_[0] = text[pos++] - '0';
        break;
      case '2':
        progress_[1] = TokenValue(text, pos);
        if (progress_[0] == 2 || progress_[0] == 3) return true;
        break;
      case '3':
        progress_[2] = TokenValue(text, pos);
        if (progress_[0] == 1) return true;
        break;
      case '4':
        progress_[3] = TokenValue(text, pos);
        return true;
      default:
        return false;
    }
    if (EndsAfterField(text, pos)) return true;
  }
}

bool InstallerProgress::ParseCommonData(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  std::size_t pos = 0;
  // The same two fields in the installer's own wording, "Message type: 2,
  // Argument: 0": the form in which a custom action's Cancel request comes.
  static const char kType[] = "Message type: ", kArgument[] = ", Argument: ";
  if (std::strncmp(text, kType, sizeof kType - 1) == 0) {
    pos = sizeof kType - 1;
    if (text[pos] == '\0') return false;
    common_[0] = static_cast<unsigned char>(text[pos++]) - '0';
    if (common_[0] == 1 || std::strncmp(text + pos, kArgument, sizeof kArgument - 1) != 0) return false;
    pos += sizeof kArgument - 1;
    common_[1] = TokenValue(text, pos);
    return true;
  }
  for (;;) {
    const char label = text[pos];
    if (!SkipLabel(text, pos)) return false;
    if (label == '2') {
      common_[1] = TokenValue(text, pos);
      return true;
    }
    if (label != '1' || text[pos] == '\0') return false;
    // Taken as a digit without a check: unknown kinds are ignored later.
    common_[0] = static_cast<unsigned char>(text[pos++]) - '0';
    if (common_[0] == 1) return false;  // the caption: nothing to show it in
    if (EndsAfterField(text, pos)) return true;
  }
}

int InstallerProgress::Directed(int ticks) const {
  if (forward_) return ticks;
  return ticks == INT_MIN ? INT_MAX : -ticks;
}

void InstallerProgress::ActOnProgress(InstallerProgressSink& sink) {
  switch (progress_[0]) {
    case 0: {
      // A reset. After script creation, or when running backward, the bar
      // starts full; the script flag read here is the previous reset's.
      progressTotal_ = progress_[1];
      forward_ = progress_[2] == 0;
      const bool full = scriptInProgress_ || !forward_;
      sink.SetProgress(full ? progress_[1] : 0, progress_[1]);
      scriptInProgress_ = progress_[3] == 1;
      break;
    }
    case 1:
      stepOnActionData_ = progress_[2] != 0;
      if (stepOnActionData_) sink.SetProgressStep(Directed(progress_[1]));
      break;
    case 2:
      if (progressTotal_ != 0) sink.OffsetProgress(Directed(progress_[1]));
      break;
    case 3:
      sink.ExtendProgressRange(progress_[1]);
      break;
    default:
      break;
  }
}

void InstallerProgress::ActOnCommonData(InstallerProgressSink& sink) {
  if (common_[0] == 0) {
    language_ = static_cast<std::uint16_t>(common_[1] & 0xFFFF);
  } else if (common_[0] == 2) {
    sink.EnableCancelButton(common_[1] != 0);
  }
}

int InstallerProgress::ShowBox(std::uint32_t type, const char* text,
                               const char* caption,
                               InstallerProgressSink& sink) const {
  return sink.ShowMessageBox(text, caption, type & kInstallStyleMask,
                             language_);
}

int InstallerProgress::Handle(std::uint32_t type, const char* text,
                              bool stopRequested,
                              InstallerProgressSink& sink) {
  if (text == nullptr) return kInstallerNotHandled;
  switch (type & kInstallKindMask) {
    case kInstallFatalExit:
      return ShowBox(type, text, "Fatal Error", sink);
    case kInstallError:
      return ShowBox(type, text, "Error", sink);
    case kInstallWarning:
      return ShowBox(type, text, "Warning", sink);
    case kInstallActionStart:
      if (progressTotal_ != 0) sink.SetDetailText(sink.ActionText(text));
      return kInstallerOk;
    case kInstallActionData:
      if (progressTotal_ != 0 && stepOnActionData_) sink.StepProgress();
      return kInstallerOk;
    case kInstallProgress:
      if (ParseProgress(text)) ActOnProgress(sink);
      // Cancel is the only way to stop the installer, so it is answered
      // even when the text could not be read.
      return stopRequested ? kInstallerCancel : kInstallerOk;
    case kInstallCommonData:
      if (ParseCommonData(text)) ActOnCommonData(sink);
      return kInstallerOk;
    case kInstallUser:
    case kInstallInfo:
    case kInstallInitialize:  // its text is not meant for display
    case kInstallTerminate:
    case kInstallShowDialog:
      return kInstallerOk;
    default:  // files in use, source, disk space: the installer's own UI
      return kInstallerNotHandled;
  }
}
