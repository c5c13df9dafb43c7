#include "web/WebRoutes.h"

#include "database/DatabaseError.h"
#include "report/Discoveries.h"
#include "web/WebState.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrlQuery>

namespace kestrove {

namespace {

WebReply json(const QJsonObject& object, int status = 200)
{
    return {status, QByteArrayLiteral("application/json"),
            QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

WebReply problem(int status, const QString& why)
{
    return json({{QStringLiteral("error"), why}}, status);
}

// The page's files, kept in the program's resources.
WebReply pageFile(const QString& path)
{
    static const struct
    {
        const char* path;
        const char* resource;
        const char* type;
    } files[] = {
        {"/", ":/web/index.html", "text/html; charset=utf-8"},
        {"/index.html", ":/web/index.html", "text/html; charset=utf-8"},
        {"/page.css", ":/web/page.css", "text/css; charset=utf-8"},
        {"/page.js", ":/web/page.js", "text/javascript; charset=utf-8"},
    };
    for (const auto& file : files) {
        if (path != QLatin1String(file.path))
            continue;
        QFile resource(QString::fromLatin1(file.resource));
        if (!resource.open(QIODevice::ReadOnly))
            return problem(500, QStringLiteral("%1 is missing from the program").arg(path));
        return {200, file.type, resource.readAll()};
    }
    return problem(404, QStringLiteral("no such page: %1").arg(path));
}

// A candidate's number as a request gives it: a whole number from 1 on, or nothing.
std::optional<qint64> candidateIdOf(const QJsonValue& value)
{
    const QString text = value.isString() ? value.toString() : QString::number(value.toDouble(-1), 'f', 0);
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    return ok && id > 0 && (value.isString() || value.toDouble() == static_cast<double>(id))
               ? std::optional<qint64>(id)
               : std::nullopt;
}

// POST /api/mark {"candidate": N, "status": "real"|"bogus"|"new"}: a person's verdict on a candidate.
WebReply markReply(const QByteArray& body, const QString& logFolder)
{
    QJsonParseError error{};
    const QJsonObject request = QJsonDocument::fromJson(body, &error).object();
    const std::optional<qint64> id = candidateIdOf(request.value(QStringLiteral("candidate")));
    const std::optional<database::CandidateStatus> status =
        database::statusOf(request.value(QStringLiteral("status")).toString());
    if (error.error != QJsonParseError::NoError || !id || !status)
        return problem(400, QStringLiteral("mark needs {\"candidate\": its number, \"status\": \"real\", "
                                           "\"bogus\" or \"new\"}"));
    try {
        if (logFolder.isEmpty() || !markCandidate(logFolder, *id, *status))
            return problem(404, QStringLiteral("no candidate %1").arg(*id));
    } catch (const database::DatabaseError& e) {
        return problem(500, e.message());
    }
    return json(
        {{QStringLiteral("candidate"), *id}, {QStringLiteral("status"), database::statusText(*status)}});
}

} // namespace

std::optional<qint64> afterOf(const QString& query, bool& valid)
{
    valid = true;
    const QUrlQuery items(query);
    if (!items.hasQueryItem(QStringLiteral("after")))
        return std::nullopt;
    bool ok = false;
    const qint64 after = items.queryItemValue(QStringLiteral("after")).toLongLong(&ok);
    if (!ok || after < 0) {
        valid = false;
        return std::nullopt;
    }
    return after;
}

bool tokenMatches(const QByteArray& authorization, const QString& token)
{
    static const QByteArray scheme = QByteArrayLiteral("Bearer ");
    if (token.isEmpty() || !authorization.startsWith(scheme))
        return false;
    const QByteArray given = authorization.mid(scheme.size()).trimmed();
    const QByteArray wanted = token.toUtf8();
    unsigned char difference = given.size() == wanted.size() ? 0 : 1;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ wanted[i % wanted.size()]);
    return difference == 0;
}

QString hostNameOf(const QByteArray& header)
{
    QString host = QString::fromLatin1(header.trimmed()).toLower();
    if (const qsizetype scheme = host.indexOf(QLatin1String("://")); scheme >= 0)
        host = host.mid(scheme + 3).section(u'/', 0, 0);
    if (host.startsWith(u'[')) {
        const qsizetype end = host.indexOf(u']');
        host = end < 0 ? host : host.mid(1, end - 1);
    } else {
        host = host.section(u':', 0, 0);
        if (host.endsWith(u'.'))
            host.chop(1);
    }
    // An address in the form it is listed in, however it was written.
    const QHostAddress address(host);
    return address.isNull() ? host : address.toString().toLower();
}

bool unsafePath(const QString& path)
{
    if (!path.startsWith(u'/') || path.contains(u'\\'))
        return true;
    for (const QString& part : path.split(u'/'))
        if (part == QLatin1String(".."))
            return true;
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

WebReply WebRoutes::lightcurvePicture(const QString& query) const
{
    const QUrlQuery items(query);
    const QString target = items.queryItemValue(QStringLiteral("target"), QUrl::FullyDecoded);
    const QString span = items.hasQueryItem(QStringLiteral("span"))
                             ? items.queryItemValue(QStringLiteral("span"))
                             : QStringLiteral("night");
    if (target.isEmpty() || target.size() > 200)
        return problem(400, QStringLiteral("target needs a star's name of up to 200 characters"));
    if (span != QLatin1String("night") && span != QLatin1String("all"))
        return problem(400, QStringLiteral("span is night or all"));
    const QByteArray* png = m_state.lightcurvePicture(target, span == QLatin1String("all"));
    if (!png || png->isEmpty())
        return problem(404, QStringLiteral("no lightcurve of %1 tonight").arg(target));
    return {200, "image/png", *png};
}

WebRoutes::WebRoutes(const WebState& state, QString token, WebActions actions, const QStringList& hosts)
    : m_state(state), m_token(std::move(token)),
      m_actions(std::move(actions)), m_hosts{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"),
                                             QStringLiteral("::1")}
{
    for (const QString& host : hosts) {
        // An IPv6 address is listed bare; anything else may carry a port.
        const QHostAddress address(host.trimmed());
        const QString name = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? address.toString().toLower()
                                 : hostNameOf(host.toLatin1());
        if (!name.isEmpty() && !m_hosts.contains(name))
            m_hosts << name;
    }
}

WebReply WebRoutes::route(const WebRequest& request) const
{
    if (unsafePath(request.path))
        return problem(400, QStringLiteral("not a path this server serves"));
    const bool authorized = tokenMatches(request.authorization, m_token);
    const bool isGet = request.method == "GET" || request.method == "HEAD";
    const bool isPost = request.method == "POST";
    if (!isGet && !isPost)
        return problem(405, QStringLiteral("only GET and POST are served"));
    // The token proves the client was given it, whatever name it used; without it the name must be
    // one of this server's own, so that a page of another site cannot reach here by its name.
    if (!authorized && !request.host.isEmpty() && !m_hosts.contains(hostNameOf(request.host)))
        return problem(421, QStringLiteral("this server does not answer to the name %1: open it by one of "
                                           "its own (localhost, its address, or a name under [web] hosts)")
                                .arg(hostNameOf(request.host)));
    if (!authorized && !request.origin.isEmpty() && !m_hosts.contains(hostNameOf(request.origin)))
        return problem(403, QStringLiteral("a page of another site reads nothing here without the token"));

    if (isPost) {
        const bool stop = request.path == QLatin1String("/api/stop");
        const bool close = request.path == QLatin1String("/api/close");
        const bool mark = request.path == QLatin1String("/api/mark");
        if (!stop && !close && !mark)
            return problem(
                request.path.startsWith(QLatin1String("/api/")) || request.path == QLatin1String("/") ? 405
                                                                                                      : 404,
                QStringLiteral("nothing to do at %1").arg(request.path));
        if (request.authorization.isEmpty())
            return problem(401, QStringLiteral("an action needs the token: Authorization: Bearer <token>"));
        if (!authorized)
            return problem(403, QStringLiteral("the token is wrong"));
        if (!request.body.trimmed().isEmpty()) {
            QJsonParseError error{};
            QJsonDocument::fromJson(request.body, &error);
            if (error.error != QJsonParseError::NoError)
                return problem(400, QStringLiteral("the body is not JSON: ") + error.errorString());
        }
        if (mark)
            return markReply(request.body, m_state.logFolder());
        const std::function<void()>& action = stop ? m_actions.stop : m_actions.close;
        if (!action)
            return problem(409, QStringLiteral("this observatory has nothing to close"));
        action();
        return json({{QStringLiteral("done"),
                      stop ? QStringLiteral("Stop Survey") : QStringLiteral("Close Observatory")}});
    }

    const bool api = request.path.startsWith(QLatin1String("/api/"));
    if (!request.loopback && !authorized)
        return api || request.authorization.size() > 0
                   ? problem(request.authorization.isEmpty() ? 401 : 403,
                             QStringLiteral("reading from another computer needs the token"))
                   // The page itself is served, so that it can ask for the token.
                   : pageFile(request.path);
    if (request.path == QLatin1String("/night.svg") || request.path == QLatin1String("/night.png")) {
        const bool svg = request.path.endsWith(QLatin1String(".svg"));
        const QByteArray& chart = svg ? m_state.nightChart() : m_state.nightPicture();
        return chart.isEmpty()
                   ? problem(404, QStringLiteral(
                                      "no night chart yet: it is drawn when a window or --web can draw"))
                   : WebReply{200, svg ? "image/svg+xml" : "image/png", chart};
    }
    if (request.path == QLatin1String("/lightcurve.png"))
        return lightcurvePicture(request.query);
    if (request.path == QLatin1String("/thumbnail.png")) {
        const QByteArray& png =
            request.query == QLatin1String("size=large") && !m_state.largeImage().isEmpty()
                ? m_state.largeImage()
                : m_state.thumbnail();
        return png.isEmpty() ? problem(404, QStringLiteral("no image saved yet"))
                             : WebReply{200, "image/png", png};
    }
    if (request.path == QLatin1String("/cutout.png")) {
        const QUrlQuery items(request.query);
        const std::optional<qint64> id = candidateIdOf(items.queryItemValue(QStringLiteral("candidate")));
        const QString kind = items.queryItemValue(QStringLiteral("image"));
        if (!id || !isCutoutKind(kind))
            return problem(400, QStringLiteral("a cut-out needs candidate=N and image=reference, new or "
                                               "difference"));
        try {
            const QByteArray png = m_state.cutout(*id, kind);
            return png.isEmpty()
                       ? problem(404, QStringLiteral("no %1 cut-out of candidate %2").arg(kind).arg(*id))
                       : WebReply{200, "image/png", png};
        } catch (const database::DatabaseError& e) {
            return problem(500, e.message());
        }
    }
    if (!api)
        return pageFile(request.path);
    if (request.path == QLatin1String("/api/status"))
        return json(m_state.status());
    if (request.path == QLatin1String("/api/history"))
        return json(m_state.history());
    if (request.path == QLatin1String("/api/preview"))
        return json(m_state.preview());
    if (request.path == QLatin1String("/api/frames"))
        return json(m_state.frames());
    if (request.path == QLatin1String("/api/lightcurves"))
        return json(m_state.lightcurves());
    if (request.path == QLatin1String("/api/discoveries"))
        return json(m_state.discoveries());
    if (request.path == QLatin1String("/api/log")) {
        bool valid = true;
        const std::optional<qint64> after = afterOf(request.query, valid);
        if (!valid)
            return problem(400, QStringLiteral("after needs a whole number of 0 or more"));
        return json(m_state.log(after.value_or(0)));
    }
    if (request.path == QLatin1String("/api/stop") || request.path == QLatin1String("/api/close") ||
        request.path == QLatin1String("/api/mark"))
        return problem(405, QStringLiteral("actions are POST only"));
    return problem(404, QStringLiteral("no such endpoint: %1").arg(request.path));
}

} // namespace kestrove
