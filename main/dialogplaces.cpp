// The folders of the file dialogs and the file systems they keep away from.
#include "main/dialogplaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tessarin {

namespace {

// A mount point as /proc/self/mountinfo writes it: space, tab, line break and backslash as three
// octal digits after a backslash.
QString unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return QFile::decodeName(out);
}

bool within(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder.endsWith('/') ? folder : folder + '/');
}

}  // namespace

void DialogPlaces::visit(const QString& folder) {
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    visited_.removeAll(absolute);
    visited_.append(absolute);
}

QString DialogPlaces::lastfolder() const {
    for (auto folder = visited_.crbegin(); folder != visited_.crend(); ++folder) {
        if (!reaches(*folder)) {
            return *folder;
        }
    }
    return QDir::homePath();
}

void DialogPlaces::stalled(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The mount that holds the path is the longest mount point it lies within; /proc answers
    // whatever the file system does.
    QString mount = QFileInfo(absolute).path();
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (mounts.open(QIODevice::ReadOnly)) {
        QString longest;
        for (const QByteArray& line : mounts.readAll().split('\n')) {
            const QString point = unescaped(line.split(' ').value(4));
            if (!point.isEmpty() && within(absolute, point) && point.size() > longest.size()) {
                longest = point;
            }
        }
        if (!longest.isEmpty()) {
            mount = longest;
        }
    }
    if (!stalled_.contains(mount)) {
        stalled_.append(mount);
    }
}

bool DialogPlaces::reaches(const QString& path) const {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return std::any_of(stalled_.cbegin(), stalled_.cend(),
                       [&](const QString& mount) { return within(absolute, mount); });
}

}  // namespace tessarin
