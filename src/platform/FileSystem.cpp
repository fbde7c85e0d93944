#include "platform/FileSystem.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

bool removeFolderTree(const QString& path, bool recursive) {
    if (path.isEmpty())
        return false;
    const QByteArray dirPath = QFile::encodeName(path);
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir)
        return ::rmdir(dirPath.constData()) == 0;
    bool ok = true;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        QString child = path;
        if (!child.endsWith(QLatin1Char('/')))
            child += QLatin1Char('/');
        child += QFile::decodeName(name);
        const QByteArray childPath = QFile::encodeName(child);
        struct stat st {};
        // lstat: a link to a folder is an entry of this folder, not a folder to descend.
        if (::lstat(childPath.constData(), &st) != 0) {
            ok = false;
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            if (recursive && !removeFolderTree(child + QLatin1Char('/'), recursive)) {
                ok = false;
                break;
            }
        } else if (::unlink(childPath.constData()) != 0) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    if (!ok)
        return false;
    QString self = path;
    while (self.size() > 1 && self.endsWith(QLatin1Char('/')))
        self.chop(1);
    return ::rmdir(QFile::encodeName(self).constData()) == 0;
}

} // namespace orvanta
