#pragma once
// Which presentation program this instance serves on Linux, chosen once at start: LibreOffice
// Impress when its Scribbet extension answers, else the desktop stand-in. SCRIBBET_HOST
// ("impress", "standin" or "auto") settles it for a presenter or a test that knows.
#include <functional>
#include <optional>
#include <string>

#include "app/host.hpp"

namespace scribbet::linuxhost {

enum class HostKind { standin, impress };

struct HostChoice {
    HostKind kind = HostKind::standin;
    std::optional<int> impressPid; // the soffice the extension answered from, when it did
    std::string note;              // one line for the log on what was chosen and why
};

// `setting` is SCRIBBET_HOST's value; `windows` whether there is an X display, without which
// Impress's desktop cannot be read; `impressAnswers` asks the extension, giving its soffice's
// process. Asked only when the choice depends on it.
HostChoice chooseHost(const std::optional<std::string>& setting, bool windows,
                      const std::function<std::optional<int>()>& impressAnswers);

// Impress as the program the texts name. Its extension is mended only by the user, inside
// LibreOffice.
Host impressHost();

} // namespace scribbet::linuxhost
