#include "support/command_run.h"

#include <QRegularExpression>
#include <stdexcept>

#include "base/error_report.h"
#include "settings/profile_store.h"

namespace trp::test {

void SaveProfiles(const QString& file, const Profile& profile1, const Profile& profile2) {
    ProfileStore store(file);
    const Profile* profiles[] = {&profile1, &profile2};
    for (int i = 0; i < 2; ++i) {
        const QString suffix = i == 0 ? QString() : QStringLiteral("2");
        const Profile& p = *profiles[i];
        for (const auto& [key, value] : {std::pair{"Server", p.server},
                                         {"Port", p.port},
                                         {"User", p.user},
                                         {"Password", p.password},
                                         {"Database", p.database}}) {
            if (!store.Save(QLatin1String(key) + suffix, QString::fromStdString(value)))
                throw std::runtime_error("cannot save the profiles in " + file.toStdString());
        }
    }
}

ProgramResult RunCommand(const QString& program, const QStringList& arguments,
                         const QString& home) {
    return RunProgram(program, arguments, HeadlessEnvironment(home));
}

QStringList ReportsIn(const QString& errors) {
    const QString footer =
        QStringLiteral("Please email screenshot of this message to %1")
            .arg(QString::fromUtf8(kSupportAddress.data(), kSupportAddress.size()));
    const QRegularExpression progress(QStringLiteral("^[\\d,]+ of [\\d,]+ rows \\("));
    QStringList reports;
    QStringList lines;
    for (const QString& line : errors.split(u'\n')) {
        if (line.contains(progress)) continue;
        lines << line;
        if (line != footer) continue;
        reports << lines.join(u'\n');
        lines.clear();
    }
    return reports;
}

QString AsPrinted(const QString& box_text) {
    QString printed = box_text;
    return printed.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

}  // namespace trp::test
