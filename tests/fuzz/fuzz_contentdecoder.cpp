// The body decoder: however a body is cut into pieces, the same output and the same verdict; never
// "complete" on a stream cut short; what zlib reads from the whole body; and a compressed body
// decodes to what was compressed.

#include "ContentDecoder.h"
#include "FuzzInput.h"

#include <QList>

#include <zlib.h>

namespace {

constexpr qsizetype MostOutput = 1 << 22;

struct Outcome {
    bool ok = true;
    bool complete = false;
    QByteArray out;
    bool operator==(const Outcome&) const = default;
};

Outcome decoded(const QByteArray& encoding, const QByteArray& body, QList<qsizetype> cuts) {
    const auto decoder = ContentDecoder::create(encoding);
    Outcome outcome;
    QString error;
    const auto sink = [&outcome](const char* data, qint64 size) {
        outcome.out.append(data, size);
        return outcome.out.size() <= MostOutput;
    };
    cuts.append(body.size());
    for (qsizetype at = 0, i = 0; outcome.ok && i < cuts.size(); at = cuts[i++])
        outcome.ok = decoder->decode(body.constData() + at, cuts[i] - at, sink, &error);
    FuzzInput::require(outcome.ok || !error.isEmpty() || outcome.out.size() > MostOutput,
                       "a refused body has a reason", QString::fromLatin1(body.toHex()));
    outcome.complete = decoder->isComplete();
    return outcome;
}

// zlib itself on the whole body (gzip members one after another): the output, and ok when the
// last stream ends with the body.
Outcome inflated(const QByteArray& body, int windowBits) {
    z_stream stream{};
    inflateInit2(&stream, windowBits);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    stream.avail_in = uInt(body.size());
    Outcome outcome;
    int status = Z_OK;
    while (status == Z_OK && outcome.out.size() <= MostOutput) {
        char out[16384];
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        status = inflate(&stream, Z_NO_FLUSH);
        outcome.out.append(out, qsizetype(sizeof out - stream.avail_out));
        if (status == Z_STREAM_END && stream.avail_in > 0 && windowBits > 15 && inflateReset(&stream) == Z_OK)
            status = Z_OK;
    }
    inflateEnd(&stream);
    outcome.ok = outcome.complete = status == Z_STREAM_END && stream.avail_in == 0;
    return outcome;
}

QByteArray compressed(const QByteArray& data, int level, int windowBits) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

// Input: a byte choosing the encoding and whether the rest is compressed first, then the rest.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool gzip = data[0] & 1;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const int windowBits = gzip ? 31 : (data[0] & 4) ? 15 : -15;
    const QByteArray body =
        (data[0] & 2) ? compressed(rest, data[0] >> 4 > 9 ? 9 : data[0] >> 4, windowBits) : rest;
    const QByteArray encoding = gzip ? "gzip" : "deflate";
    const QString shown = QString::fromLatin1(body.toHex());

    FuzzInput::Choices choices(data, size);
    QList<qsizetype> cuts;
    for (qsizetype at = choices.below(3); at < body.size();
         at += 1 + choices.below(quint32(body.size() / 4 + 1)))
        cuts.append(at);
    // What a corrupt body gave before its fault was found is thrown away with it: only the verdict
    // counts then.
    const Outcome whole = decoded(encoding, body, {});
    const Outcome split = decoded(encoding, body, cuts);
    FuzzInput::require(split.ok == whole.ok && split.complete == whole.complete &&
                           (!whole.ok || split.out == whole.out),
                       "the same however the body is cut", shown);
    if (whole.ok && whole.complete)
        FuzzInput::require(!decoded(encoding, body.chopped(1), {}).complete, "never complete when cut short",
                           shown);
    if (data[0] & 2)
        FuzzInput::require(whole.ok && whole.complete && whole.out == rest, "what was compressed comes back",
                           shown);

    // zlib's reading, with the choice a "deflate" body's first two bytes make.
    const bool zlibHeader =
        body.size() >= 2 && (body[0] & 0x0f) == 8 && ((uchar(body[0]) << 8) | uchar(body[1])) % 31 == 0;
    const Outcome reference = inflated(body, gzip ? 31 : zlibHeader ? 15 : -15);
    if (whole.out.size() <= MostOutput && reference.out.size() <= MostOutput)
        FuzzInput::require(whole.ok && whole.complete ? reference == whole : !reference.complete,
                           "what zlib reads from the whole body", shown);
    return 0;
}
