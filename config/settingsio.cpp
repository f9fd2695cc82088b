#include "config/settingsio.h"

#include "config/appsettings.h"
#include "config/includedude.h"
#include "config/valnumber.h"
#include "platform/fsutil.h"
#include "platform/settingsstore.h"
#include "platform/version.h"

#include <QVariant>

namespace {

struct Field {
    const char* name;
    qint16 AppSettings::*member;
};

constexpr Field kFields[] = {
    {"BaudRate", &AppSettings::BaudRate}, {"CommPort", &AppSettings::CommPort},
    {"DataBits", &AppSettings::DataBits}, {"DefType", &AppSettings::DefType},
    {"Parity", &AppSettings::Parity},     {"StopBits", &AppSettings::StopBits},
    {"Timeout", &AppSettings::Timeout},
};

} // namespace

QString settingsKeyPath()
{
    return QStringLiteral("Software\\") + appVersionInfo().companyName + QStringLiteral("\\") +
           appTitle() + QStringLiteral("\\");
}

store::Failure LoadSettings(AppSettings& settings, ISettingsStore& store, const QString& keyPath)
{
    // One batch: the seven values come from one reading of the store.
    store.beginBatch();
    for (const Field& field : kFields) {
        const QString text = IncludeDude::ReadKeyValue(store, store::HKEY_CURRENT_USER, keyPath,
                                                       QString::fromLatin1(field.name));
        if (text.isEmpty())
            continue;
        // A number the 16-bit field cannot hold is treated like a missing value.
        if (const std::optional<qint16> number = roundedValInt16(text))
            settings.*field.member = *number;
    }
    store.endBatch();
    return store.readFailure();
}

store::Failure SaveSettings(const AppSettings& settings, ISettingsStore& store,
                            const QString& keyPath)
{
    // One batch: the store keeps all seven values or, when it fails, none of them.
    long status = store::ERROR_SUCCESS;
    store.beginBatch();
    for (const Field& field : kFields) {
        const long written = IncludeDude::WriteKeyValue(
            store, store::HKEY_CURRENT_USER, keyPath, QString::fromLatin1(field.name),
            QVariant(int(settings.*field.member)), store::REG_DWORD);
        if (status == store::ERROR_SUCCESS)
            status = written;
    }
    const long ended = store.endBatch();
    if (status == store::ERROR_SUCCESS)
        status = ended;
    if (status == store::ERROR_SUCCESS)
        return {};
    store::Failure failure = store.lastFailure();
    if (failure.cause == store::Cause::None) {
        failure.cause = store::Cause::Other;
        failure.reason = QStringLiteral("the store refused the change (status %1)").arg(status);
    }
    return failure;
}

QString loadFailureText(const store::Failure& failure)
{
    return QStringLiteral("the settings file %1 cannot be used: %2")
        .arg(fsutil::printable(failure.file), failure.reason);
}

QString saveFailureText(const store::Failure& failure)
{
    const QString where =
        failure.file.isEmpty() ? QString() : QStringLiteral(" to ") + failure.file;
    // Port, line settings and default method take effect only at a start, from the file: the
    // time-out is the one change this run can still use.
    return QStringLiteral("The settings could not be saved%1: %2. Only the new time-out is used, "
                          "and only until the program closes; the port, line settings and "
                          "default card method stay as they were.")
        .arg(where, failure.reason);
}
