#include "app/start_up.h"

#include <cstdio>

#include "app/localized_message_box.h"
#include "app/process_priority.h"
#include "core/string_table.h"

namespace vantrove {

const char* StartupHost::LoadString(int id) {
    return LoadStringResource(id);
}

void StartupHost::ApplyPriority(uint32_t priority) {
    ApplyPriorityClass(priority);
    SetCurrentThreadPriority(kThreadBelowNormal);
}

int FirstMissingStringId(const std::function<const char*(int)>& lookup) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        const char* text = lookup(id);
        if (text == nullptr || text[0] == '\0') return id;
    }
    return 0;
}

std::string MissingStringMessage(int id) {
    char text[64];
    std::snprintf(text, sizeof text, "Cannot load string resource %d.", id);
    return text;
}

MainDialogChoice ChooseMainDialog(const CommandLine& commandLine, const Settings& settings) {
    MainDialogChoice choice;
    if (commandLine.shellCommand == ShellCommand::OpenSet) {
        choice.kind = MainDialogKind::Verify;
        choice.verifyFileName = commandLine.firstFileName;
        choice.monitorAutomatically = settings.monitorAutomatically;
        choice.repairAutomatically = settings.repairAutomatically;
    } else {
        choice.kind = MainDialogKind::Create;
        choice.createFileNames = commandLine.fileNames;
    }
    return choice;
}

StartupResult RunStartup(Application& application, Settings& settings,
                         const std::vector<std::string>& arguments, StartupHost& host) {
    int missing = FirstMissingStringId([&host](int id) { return host.LoadString(id); });
    if (missing != 0) {
        LocalizedMessageBox(nullptr, MissingStringMessage(missing), "Error",
                            kMbOk | kMbIconExclamation);
        return StartupResult::MissingString;
    }

    application.MeasureMemory();
    application.MeasureSpeed();

    if (!settings.Load()) host.ShowPreferences(settings);

    host.ApplyPriority(settings.priority);

    CommandLine commandLine;
    commandLine.Parse(arguments);

    if (!host.OpenMainDialog(ChooseMainDialog(commandLine, settings))) {
        return StartupResult::NoWindow;
    }
    return StartupResult::Running;
}

}  // namespace vantrove
