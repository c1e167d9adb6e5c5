#include "writer/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSaveFile>
#include <QStringDecoder>

#include <cmath>

namespace morvandell {

namespace {

// Reading stops at the first problem; where says where it was found ("Eintrag 2 in \"slots\": ").
class Reader
{
public:
    QString error;

    bool ok() const { return error.isEmpty(); }

    void fail(const QString& where, const QString& text)
    {
        if (error.isEmpty())
            error = where + text;
    }

    const QJsonValue* present(const QJsonObject& object, const QString& where, const char* key)
    {
        m_value = object.value(QLatin1String(key));
        if (m_value.isUndefined()) {
            fail(where, QStringLiteral("\"%1\" fehlt.").arg(QLatin1String(key)));
            return nullptr;
        }
        return &m_value;
    }

    std::optional<QString> text(const QJsonObject& object, const QString& where, const char* key)
    {
        const QJsonValue* value = present(object, where, key);
        if (!value)
            return std::nullopt;
        if (!value->isString()) {
            fail(where, QStringLiteral("\"%1\" ist kein Text.").arg(QLatin1String(key)));
            return std::nullopt;
        }
        const QString s = value->toString();
        if (!QStringView(s).isValidUtf16()) {
            fail(where, QStringLiteral("\"%1\" enthält ein ungültiges Zeichen.").arg(QLatin1String(key)));
            return std::nullopt;
        }
        return s;
    }

    // A whole number in lowest..highest.
    std::optional<int> number(const QJsonObject& object, const QString& where, const char* key, int lowest,
                              int highest)
    {
        const QJsonValue* value = present(object, where, key);
        if (!value)
            return std::nullopt;
        const double d = value->toDouble(std::nan(""));
        if (!value->isDouble() || !std::isfinite(d) || d != std::trunc(d)) {
            fail(where, QStringLiteral("\"%1\" ist keine ganze Zahl.").arg(QLatin1String(key)));
            return std::nullopt;
        }
        if (d < lowest || d > highest) {
            fail(where, QStringLiteral("\"%1\" ist %2, erlaubt sind %3 bis %4.")
                            .arg(QLatin1String(key))
                            .arg(d, 0, 'g', 17)
                            .arg(lowest)
                            .arg(highest));
            return std::nullopt;
        }
        return static_cast<int>(d);
    }

private:
    QJsonValue m_value;
};

QString slotWhere(qsizetype entry)
{
    return QStringLiteral("Eintrag %1 in \"slots\": ").arg(entry + 1);
}

// A JSON string: quotes, backslashes and control characters escaped, everything else as it is, but
// for U+FEFF: Qt's reader drops it at the start of a string (as if it were a byte order mark).
QByteArray jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\') {
            out += QLatin1Char('\\');
            out += c;
        } else if (u < 0x20 || u == 0xFEFF) {
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out.toUtf8();
}

} // namespace

std::optional<SlotSetting>& Profile::slot(DisplayConfiguration& configuration, int k)
{
    return configuration.slotSettings.at(k);
}

const std::optional<SlotSetting>& Profile::slot(const DisplayConfiguration& configuration, int k)
{
    return configuration.slotSettings.at(k);
}

std::optional<DisplayConfiguration> Profile::parse(const QByteArray& bytes, QString* error)
{
    auto refuse = [&](const QString& text) -> std::optional<DisplayConfiguration> {
        if (error)
            *error = text;
        return std::nullopt;
    };

    if (bytes.size() > MaxFileSize)
        return refuse(QStringLiteral("Die Datei ist größer als 1 MB."));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(bytes);
    if (utf8.hasError())
        return refuse(QStringLiteral("Die Datei ist kein gültiger UTF-8-Text."));
    QByteArray json = bytes;
    if (json.startsWith("\xEF\xBB\xBF")) // a byte order mark, as some editors write it
        json.remove(0, 3);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("Die Datei ist kein gültiges JSON (Byte %1: %2).")
                          .arg(parseError.offset)
                          .arg(parseError.errorString()));
    if (!document.isObject())
        return refuse(QStringLiteral("Die Datei enthält kein JSON-Objekt."));
    const QJsonObject root = document.object();

    Reader r;
    const QString top;
    DisplayConfiguration configuration;
    // Format and version first: a newer profile is reported as such, not as a field it lacks.
    if (const auto format = r.text(root, top, "format"); format && *format != formatName())
        r.fail(top,
               QStringLiteral("Unbekanntes Format \"%1\" (erwartet \"%2\").").arg(*format, formatName()));
    if (!r.ok())
        return refuse(r.error);
    const QJsonValue version = root.value(QLatin1String("version"));
    if (version.isDouble() && version.toDouble() > Version && std::isfinite(version.toDouble()))
        return refuse(QStringLiteral("Das Profil hat Version %1; dieses Programm kennt nur Version %2.")
                          .arg(version.toDouble(), 0, 'g', 17)
                          .arg(Version));
    r.number(root, top, "version", Version, Version);
    if (const auto path = r.text(root, top, "logDefinition"))
        configuration.logDefinition = *path;
    if (const auto view = r.number(root, top, "defaultView", 0, MaxDefaultView))
        configuration.defaultView = static_cast<std::uint8_t>(*view);
    if (!r.ok())
        return refuse(r.error);

    const QJsonValue slotsValue = root.value(QLatin1String("slots"));
    if (slotsValue.isUndefined())
        return refuse(QStringLiteral("\"slots\" fehlt."));
    if (!slotsValue.isArray())
        return refuse(QStringLiteral("\"slots\" ist keine Liste."));
    const QJsonArray slotList = slotsValue.toArray();
    for (qsizetype i = 0; i < slotList.size() && r.ok(); ++i) {
        const QString where = slotWhere(i);
        if (!slotList.at(i).isObject())
            return refuse(where + QStringLiteral("kein JSON-Objekt."));
        const QJsonObject entry = slotList.at(i).toObject();
        const auto k = r.number(entry, where, "slot", 1, DisplayConfiguration::SlotCount);
        if (k && slot(configuration, *k))
            r.fail(where, QStringLiteral("Slot %1 ist mehrfach angegeben.").arg(*k));
        // Only the first problem is kept; values after it are not used.
        SlotSetting setting;
        setting.channel = r.text(entry, where, "channel").value_or(QString());
        setting.number = static_cast<std::uint8_t>(r.number(entry, where, "number", 0, 255).value_or(0));
        setting.divider = static_cast<std::uint8_t>(r.number(entry, where, "divider", 0, 255).value_or(0));
        setting.name = r.text(entry, where, "name").value_or(QString());
        if (setting.name.size() > NameLength)
            r.fail(where, QStringLiteral("\"name\" \"%1\" ist länger als %2 Zeichen.")
                              .arg(setting.name)
                              .arg(NameLength));
        setting.unit = r.text(entry, where, "unit").value_or(QString());
        if (setting.unit.size() > UnitLength)
            r.fail(where, QStringLiteral("\"unit\" \"%1\" ist länger als %2 Zeichen.")
                              .arg(setting.unit)
                              .arg(UnitLength));
        if (k && r.ok())
            slot(configuration, *k) = setting;
    }
    if (!r.ok())
        return refuse(r.error);
    if (error)
        error->clear();
    return configuration;
}

QString Profile::problem(const DisplayConfiguration& configuration)
{
    auto invalid = [](const QString& s) {
        return !QStringView(s).isValidUtf16();
    };
    if (configuration.defaultView > MaxDefaultView)
        return QStringLiteral("Die Standardansicht %1 gibt es nicht (0 bis %2).")
            .arg(configuration.defaultView)
            .arg(MaxDefaultView);
    if (invalid(configuration.logDefinition))
        return QStringLiteral("Der Name der Log-Definitionsdatei enthält ein ungültiges Zeichen.");
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        const auto& setting = slot(configuration, k);
        if (!setting)
            continue;
        if (setting->name.size() > NameLength)
            return QStringLiteral("Slot %1: der Name ist länger als %2 Zeichen.").arg(k).arg(NameLength);
        if (setting->unit.size() > UnitLength)
            return QStringLiteral("Slot %1: die Einheit ist länger als %2 Zeichen.").arg(k).arg(UnitLength);
        if (invalid(setting->channel) || invalid(setting->name) || invalid(setting->unit))
            return QStringLiteral("Slot %1 enthält ein ungültiges Zeichen.").arg(k);
    }
    return QString();
}

QByteArray Profile::toJson(const DisplayConfiguration& configuration)
{
    QByteArray out;
    out += "{\n  \"format\": " + jsonString(formatName()) + ",\n";
    out += "  \"version\": " + QByteArray::number(Version) + ",\n";
    out += "  \"logDefinition\": " + jsonString(configuration.logDefinition) + ",\n";
    out += "  \"defaultView\": " + QByteArray::number(configuration.defaultView) + ",\n";
    out += "  \"slots\": [";
    bool first = true;
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        const auto& setting = slot(configuration, k);
        if (!setting)
            continue;
        out += first ? "\n" : ",\n";
        first = false;
        out += "    { \"slot\": " + QByteArray::number(k) + ", \"channel\": " + jsonString(setting->channel) +
               ", \"number\": " + QByteArray::number(setting->number) +
               ", \"divider\": " + QByteArray::number(setting->divider) +
               ", \"name\": " + jsonString(setting->name) + ", \"unit\": " + jsonString(setting->unit) + " }";
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::optional<DisplayConfiguration> Profile::load(const QString& path, QString* error)
{
    auto refuse = [&](const QString& text) -> std::optional<DisplayConfiguration> {
        if (error)
            *error = QStringLiteral("Das Profil %1 kann nicht geladen werden: %2").arg(path, text);
        return std::nullopt;
    };
    const QFileInfo info(path);
    if (info.isDir())
        return refuse(QStringLiteral("Das ist ein Ordner."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    if (file.size() > MaxFileSize)
        return refuse(QStringLiteral("Die Datei ist größer als 1 MB."));
    // Read one byte more than allowed: files that report no size (pipes, /proc) are bounded too.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());
    QString problem;
    auto configuration = parse(bytes, &problem);
    if (!configuration)
        return refuse(problem);
    if (error)
        error->clear();
    return configuration;
}

bool Profile::save(const QString& path, const DisplayConfiguration& configuration, QString* error)
{
    auto refuse = [&](const QString& text) {
        if (error)
            *error = QStringLiteral("Das Profil %1 kann nicht gespeichert werden: %2").arg(path, text);
        return false;
    };
    if (const QString reason = problem(configuration); !reason.isEmpty())
        return refuse(reason);
    if (QFileInfo(path).isDir())
        return refuse(QStringLiteral("Das ist ein Ordner."));
    // The new text goes into a temporary file beside the old one and replaces it only once it is
    // complete on disk: a full disk or a crash leaves the old profile as it was.
    QSaveFile file(path);
    // Unbuffered, so that every write reports what really reached the file: Qt's buffered writes
    // count a write that stops part-way (a full disk) as done, and commit() would then put the cut
    // file in place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return refuse(file.errorString());
    const QByteArray bytes = toJson(configuration);
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return refuse(QStringLiteral("Nur %1 von %2 Bytes wurden geschrieben (Datenträger voll?). %3")
                              .arg(done)
                              .arg(bytes.size())
                              .arg(reason));
        }
        done += n;
    }
    if (!file.commit())
        return refuse(file.errorString());
    if (error)
        error->clear();
    return true;
}

} // namespace morvandell
