// Where the data files live on Linux.
#include "platform/filesystem.h"
#include "platform/platform.h"
#include "startup/datafiles.h"

namespace himekuri {

// The XDG data folder. Earlier versions kept the files in a folder that
// stood for the top of the Windows drive, "Program Files/Tesrava" in the
// home folder: they are moved from there once.
SystemPlatform::Folder SystemPlatform::findInstallFolder()
{
    const QString data = os::dataFolder();
    if (data.isEmpty())
        return {};
    const QString home = os::homeFolder();
    const QString earlier = home.isEmpty() || home == u'/'
        ? QString()
        : home + QStringLiteral("/Program Files/Tesrava/");
    const FolderChoice choice = settleDataFolder(earlier, data + QStringLiteral("/himekuri/"));
    return {choice.folder, choice.warning};
}

} // namespace himekuri
