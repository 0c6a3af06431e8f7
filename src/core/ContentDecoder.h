#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

struct z_stream_s;

// Undoes a Content-Encoding (gzip, x-gzip, deflate) as the body streams in, and tells whether the
// compressed stream reached its end: a body cut off part-way is then seen even when the server
// announced no length. Decoding stops with a reason once the data has grown past both a thousand
// times what was read and 64 MiB: a decompression bomb.
class ContentDecoder {
public:
    // Receives each piece of decoded data; false stops decoding (the sink has its own reason).
    using Sink = std::function<bool(const char* data, qint64 size)>;

    // Null when encoding is none of those understood.
    static std::unique_ptr<ContentDecoder> create(const QByteArray& encoding);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Decodes the next piece of the body into sink. False with a reason when the data is not
    // valid for the encoding; false without one when the sink refused.
    bool decode(const char* data, qint64 size, const Sink& sink, QString* error);
    // True when the compressed stream has been read to its end.
    bool isComplete() const;

private:
    enum class Kind { Gzip, Deflate };
    explicit ContentDecoder(Kind kind);
    bool startStream(bool raw);

    Kind m_kind;
    std::unique_ptr<z_stream_s> m_stream;
    // The first byte of a "deflate" body until the second comes.
    QByteArray m_head;
    bool m_started = false;
    bool m_ended = false;
    // Compressed bytes read and decoded bytes made, over all gzip members.
    qint64 m_consumed = 0;
    qint64 m_produced = 0;
};
