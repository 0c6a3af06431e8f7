#include "ContentDecoder.h"

#include <zlib.h>

namespace {

constexpr int OutputChunk = 64 * 1024;

// A body that inflates past both of these is a decompression bomb, not a file: no real file
// compresses a thousandfold, and small ones may well come close.
constexpr qint64 MaxInflationRatio = 1000;
constexpr qint64 InflatedSizeAlwaysAllowed = 64LL * 1024 * 1024;

// A zlib header: compression method 8 and a check value that makes the first two bytes a multiple
// of 31. Servers that say "deflate" send either that or a raw deflate stream.
bool looksLikeZlib(unsigned char first, unsigned char second) {
    return (first & 0x0f) == 8 && ((first << 8) | second) % 31 == 0;
}

} // namespace

std::unique_ptr<ContentDecoder> ContentDecoder::create(const QByteArray& encoding) {
    const QByteArray name = encoding.trimmed().toLower();
    if (name == "gzip" || name == "x-gzip")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(Kind::Gzip));
    if (name == "deflate")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(Kind::Deflate));
    return nullptr;
}

ContentDecoder::ContentDecoder(Kind kind)
    : m_kind(kind)
    , m_stream(std::make_unique<z_stream_s>()) {}

ContentDecoder::~ContentDecoder() {
    if (m_started)
        inflateEnd(m_stream.get());
}

bool ContentDecoder::startStream(bool raw) {
    *m_stream = z_stream_s{};
    // 15 + 16: a gzip member; 15: a zlib stream; -15: raw deflate.
    const int windowBits = m_kind == Kind::Gzip ? 15 + 16 : raw ? -15 : 15;
    m_started = inflateInit2(m_stream.get(), windowBits) == Z_OK;
    return m_started;
}

bool ContentDecoder::decode(const char* data, qint64 size, const Sink& sink, QString* error) {
    const QString corrupt = QStringLiteral("圧縮されたデータが壊れています");
    if (size <= 0)
        return true;
    if (!m_started) {
        // "deflate" is told apart by its first two bytes, which may come in two pieces: the first
        // waits for the second, so that the choice never depends on how the body was cut up.
        if (m_kind == Kind::Deflate && m_head.isEmpty() && size < 2) {
            m_head = QByteArray(data, size);
            return true;
        }
        if (!m_head.isEmpty()) {
            const QByteArray whole = m_head + QByteArray(data, size);
            m_head.clear();
            return decode(whole.constData(), whole.size(), sink, error);
        }
        const bool raw = m_kind == Kind::Deflate && !looksLikeZlib(static_cast<unsigned char>(data[0]),
                                                                   static_cast<unsigned char>(data[1]));
        if (!startStream(raw)) {
            *error = corrupt;
            return false;
        }
    }
    auto* in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    qint64 left = size;
    char out[OutputChunk];
    while (left > 0) {
        if (m_ended) {
            // Another gzip member may follow the first; anything else after the end is garbage.
            if (m_kind != Kind::Gzip) {
                *error = corrupt;
                return false;
            }
            inflateReset(m_stream.get());
            m_ended = false;
        }
        const uInt piece = static_cast<uInt>(std::min<qint64>(left, 1 << 30));
        m_stream->next_in = in;
        m_stream->avail_in = piece;
        int status = Z_OK;
        do {
            m_stream->next_out = reinterpret_cast<Bytef*>(out);
            m_stream->avail_out = OutputChunk;
            status = inflate(m_stream.get(), Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                *error = corrupt;
                return false;
            }
            const qint64 produced = OutputChunk - m_stream->avail_out;
            const qint64 consumed = m_consumed + (piece - m_stream->avail_in);
            m_produced += produced;
            if (m_produced > InflatedSizeAlwaysAllowed && m_produced > MaxInflationRatio * consumed) {
                *error = QStringLiteral("展開後のサイズが大きすぎます");
                return false;
            }
            if (produced > 0 && !sink(out, produced))
                return false;
            if (status == Z_STREAM_END) {
                m_ended = true;
                break;
            }
        } while (m_stream->avail_in > 0 || m_stream->avail_out == 0);
        const qint64 used = piece - m_stream->avail_in;
        m_consumed += used;
        in += used;
        left -= used;
        if (!m_ended && used == 0 && left > 0) {
            *error = corrupt;
            return false;
        }
    }
    return true;
}

bool ContentDecoder::isComplete() const {
    return m_ended;
}
