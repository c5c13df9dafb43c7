// The web routes on any request: the input is split at NUL bytes into method, path, query,
// Authorization, body, Host and Origin, and the loopback flag is its first byte. Every reply is a
// 2xx or 4xx, nothing is done without the token, and what is read needs it from elsewhere, from a
// name that is not this server's or for another site's page. Each item of the query is tried as
// well with the whole numbers at the edges of the types a number is read into.
#include "FuzzSupport.h"

#include "web/WebRoutes.h"
#include "web/WebState.h"

#include <QUrlQuery>

#include <algorithm>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    static WebState state(env.view);
    static bool attached = false;
    if (!attached) {
        state.attach(*env.core);
        attached = true;
    }
    int actions = 0;
    static const QString token = QStringLiteral("t0ken");
    const WebRoutes routes(state, token, {[&] { ++actions; }, [&] { ++actions; }});

    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QList<QByteArray> parts = bytes.split('\0');
    const auto part = [&](int i) { return i < parts.size() ? parts[i] : QByteArray(); };
    WebRequest request;
    request.loopback = size > 0 && (data[0] & 1);
    request.method = part(0).mid(1);
    request.path = QString::fromUtf8(part(1));
    request.query = QString::fromUtf8(part(2));
    request.authorization = part(3);
    request.body = part(4);
    request.host = part(5);
    request.origin = part(6);

    const auto check = [&](const WebRequest& tried) {
        const WebReply reply = routes.route(tried);
        FUZZ_CHECK((reply.status >= 200 && reply.status < 300) || (reply.status >= 400 && reply.status < 500),
                   "a reply that is neither served nor refused");
        const bool authorized = tokenMatches(tried.authorization, token);
        FUZZ_CHECK(actions == 0 || (authorized && tried.method == "POST"), "an action without the token");
        if (reply.status == 200 && !tried.loopback && !authorized)
            FUZZ_CHECK(!tried.path.startsWith(QStringLiteral("/api/")),
                       "the survey's state read without the token");
        const auto own = [](const QByteArray& header) {
            const QString name = hostNameOf(header);
            return header.isEmpty() || name == QLatin1String("localhost") ||
                   name == QLatin1String("127.0.0.1") || name == QLatin1String("::1");
        };
        if (reply.status == 200 && !authorized)
            FUZZ_CHECK(own(tried.host) && own(tried.origin), "read by a name or a page not this server's");
        if (tried.path.split(u'/').contains(QStringLiteral("..")))
            FUZZ_CHECK(reply.status == 400, "a climbing path served");
        bool valid = true;
        const std::optional<qint64> after = afterOf(tried.query, valid);
        FUZZ_CHECK(!after || (valid && *after >= 0), "a negative after");
    };
    check(request);
    static const char* const edges[] = {
        "-9223372036854775809",
        "-9223372036854775808",
        "-2147483649",
        "-2147483648",
        "-1",
        "0",
        "2147483647",
        "2147483648",
        "4294967295",
        "4294967296",
        "9223372036854775807",
        "9223372036854775808",
        "18446744073709551615",
        "18446744073709551616",
    };
    const QUrlQuery query(request.query);
    const auto items = query.queryItems(QUrl::FullyEncoded);
    // A few items are enough to try: each costs every edge number a route.
    for (qsizetype i = 0; i < std::min<qsizetype>(items.size(), 4); ++i)
        for (const char* edge : edges) {
            auto changed = items;
            changed[i].second = QString::fromLatin1(edge);
            QUrlQuery edged;
            edged.setQueryItems(changed);
            WebRequest variant = request;
            variant.query = edged.toString(QUrl::FullyEncoded);
            check(variant);
        }
    return 0;
}
