#include "service/command.h"

#include <charconv>

namespace cv {
namespace {

// Writes `text` as a JSON string: quotes, backslash and every control character are
// escaped; everything else, non-ASCII included, stays as UTF-8.
void appendString(QByteArray &out, const QString &text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (u) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\f': out.append("\\f", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        default:
            if (u < 0x20) {
                const char escaped[] = {'\\', 'u', '0', '0', hex[u >> 4], hex[u & 0xf]};
                out.append(escaped, sizeof escaped);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

class ObjectWriter {
public:
    explicit ObjectWriter(QByteArray &out) : out_(out) { out_.append('{'); }
    ~ObjectWriter() { out_.append('}'); }

    void key(const char *name)
    {
        if (!first_)
            out_.append(',');
        first_ = false;
        out_.append('"').append(name).append("\":");
    }

    void field(const char *name, const QString &value)
    {
        key(name);
        appendString(out_, value);
    }
    void field(const char *name, const std::optional<QString> &value)
    {
        if (value)
            field(name, *value);
    }
    void field(const char *name, const std::optional<bool> &value)
    {
        if (!value)
            return;
        key(name);
        out_.append(*value ? "true" : "false");
    }
    void field(const char *name, const std::optional<std::uint64_t> &value)
    {
        if (!value)
            return;
        key(name);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, *value).ptr;
        out_.append(digits, end - digits);
    }
    void field(const char *name, const std::optional<QStringList> &value)
    {
        if (!value)
            return;
        key(name);
        out_.append('[');
        for (qsizetype i = 0; i < value->size(); ++i) {
            if (i > 0)
                out_.append(',');
            appendString(out_, value->at(i));
        }
        out_.append(']');
    }

private:
    QByteArray &out_;
    bool first_ = true;
};

} // namespace

QByteArray Command::encode() const
{
    QByteArray out;
    out.reserve(64);
    {
        ObjectWriter w(out);
        w.field("op", op);
        w.field("peer", peer);
        w.field("since", since);
        w.field("mode", mode);
        w.field("path", path);
        w.field("read_only", read_only);
        w.field("remember", remember);
        w.field("pairing_code", pairing_code);
        w.field("id", id);
        w.field("paths", paths);
        w.field("sources", sources);
        w.field("destination", destination);
        w.field("ids", ids);
        w.field("decision", decision);
    }
    return out;
}

} // namespace cv
