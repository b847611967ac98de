#include "output/OggCommentEditor.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

#include "core/Trace.h"

namespace {

constexpr long kChunk = 8192;
// A page is at most 65307 bytes; past that much data without one the input
// is no Ogg stream.
constexpr std::size_t kLongestFirstPage = 65307 + kChunk;

using Bytes = std::vector<unsigned char>;

Bytes CopyPacket(const ogg_packet& packet) {
    return Bytes(packet.packet, packet.packet + packet.bytes);
}

std::int64_t GranuleOf(const Bytes& header) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | header[6 + static_cast<std::size_t>(i)];
    }
    return static_cast<std::int64_t>(value);
}

void PutU32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The comment header packet: "\x03vorbis", the vendor, the comments (each a
// 32-bit little-endian length and its bytes) and the framing bit.
// libvorbis's own packer would put its vendor string in place of the
// encoder's, so the packet is built here.
Bytes CommentPacket(const std::string& vendor, const std::vector<std::string>& comments) {
    Bytes packet = {0x03, 'v', 'o', 'r', 'b', 'i', 's'};
    auto putText = [&packet](const std::string& text) {
        unsigned char length[4];
        PutU32(length, static_cast<std::uint32_t>(text.size()));
        packet.insert(packet.end(), length, length + 4);
        packet.insert(packet.end(), text.begin(), text.end());
    };
    putText(vendor);
    unsigned char count[4];
    PutU32(count, static_cast<std::uint32_t>(comments.size()));
    packet.insert(packet.end(), count, count + 4);
    for (const std::string& comment : comments) {
        putText(comment);
    }
    packet.push_back(0x01);
    return packet;
}

} // namespace

struct COggCommentEditor::State {
    ogg_sync_state sync{};
    ogg_stream_state stream{};
    bool streamReady = false;
    vorbis_info info{};
    vorbis_comment comment{};
    int serial = 0;
    Bytes headers[3];
    // Pages of other streams met among the header pages, kept for the output.
    std::vector<Bytes> otherPages;
    long lastHeaderPageNo = 0;
    bool lastHeaderPageEos = false;
    // What followed the set-up packet on its page (a stream that does not
    // start its audio on a fresh page): lacing values, body and granule.
    Bytes tailLacing;
    Bytes tailBody;
    std::int64_t tailGranule = -1;
    bool eof = false;
    unsigned char start[4] = {};
    std::size_t totalRead = 0;

    State() {
        ogg_sync_init(&sync);
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~State() {
        if (streamReady) {
            ogg_stream_clear(&stream);
        }
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
        ogg_sync_clear(&sync);
    }
};

COggCommentEditor::COggCommentEditor() : m_state(std::make_unique<State>()) {
    QM_TRACE("COggCommentEditor");
}

COggCommentEditor::~COggCommentEditor() {
    QM_TRACE("~COggCommentEditor");
}

bool COggCommentEditor::Fail(const char* message) {
    QM_TRACE("OggCommentEditor");
    m_lastError = message;
    QM_RETURN(0, false);
}

bool COggCommentEditor::ReadMore() {
    QM_TRACE("OggCommentEditor");
    if (m_state->eof || m_in == nullptr) {
        QM_RETURN(0, false);
    }
    char* buffer = ogg_sync_buffer(&m_state->sync, kChunk);
    const std::size_t got = std::fread(buffer, 1, kChunk, m_in);
    ogg_sync_wrote(&m_state->sync, static_cast<long>(got));
    if (m_state->totalRead < sizeof m_state->start) {
        const std::size_t copy = std::min(got, sizeof m_state->start - m_state->totalRead);
        std::memcpy(m_state->start + m_state->totalRead, buffer, copy);
    }
    m_state->totalRead += got;
    if (got < static_cast<std::size_t>(kChunk)) {
        m_state->eof = true;
    }
    QM_RETURN(1, got > 0);
}

bool COggCommentEditor::Open(std::FILE* in) {
    QM_TRACE("OggCommentEditor");
    State& s = *m_state;
    m_in = in;
    m_lastError.clear();

    ogg_page page;
    while (ogg_sync_pageout(&s.sync, &page) != 1) {
        if (!ReadMore()) {
            // A file that starts like Ogg but holds no whole page was cut off.
            const bool oggStart = s.totalRead >= 4 && std::memcmp(s.start, "OggS", 4) == 0;
            QM_RETURN(0, Fail(s.totalRead == 0 || oggStart ? "Input truncated or empty."
                                                           : "Input is not an Ogg bitstream."));
        }
        if (s.totalRead > kLongestFirstPage) {
            QM_RETURN(1, Fail("Input is not an Ogg bitstream."));
        }
    }
    s.serial = ogg_page_serialno(&page);
    if (ogg_stream_init(&s.stream, s.serial) != 0) {
        QM_RETURN(2, Fail("Error reading first page of Ogg bitstream."));
    }
    s.streamReady = true;
    if (ogg_stream_pagein(&s.stream, &page) < 0) {
        QM_RETURN(3, Fail("Error reading first page of Ogg bitstream."));
    }
    ogg_packet packet;
    if (ogg_stream_packetout(&s.stream, &packet) != 1) {
        QM_RETURN(4, Fail("Error reading initial header packet."));
    }
    if (vorbis_synthesis_headerin(&s.info, &s.comment, &packet) < 0) {
        QM_RETURN(5, Fail("Ogg bitstream does not contain vorbis data."));
    }
    s.headers[0] = CopyPacket(packet);

    int found = 1;
    // How many header packets were complete before the current page came in.
    int doneBeforePage = 0;
    long pageNo = ogg_page_pageno(&page);
    bool pageEos = ogg_page_eos(&page) != 0;
    Bytes currentHeader(page.header, page.header + page.header_len);
    Bytes currentBody(page.body, page.body + page.body_len);
    while (found < 3) {
        const int result = ogg_stream_packetout(&s.stream, &packet);
        if (result < 0) {
            QM_RETURN(6, Fail("Corrupt secondary header."));
        }
        if (result == 1) {
            if (vorbis_synthesis_headerin(&s.info, &s.comment, &packet) < 0) {
                QM_RETURN(7, Fail("Corrupt secondary header."));
            }
            s.headers[found++] = CopyPacket(packet);
            continue;
        }
        // The next page of this stream.
        for (;;) {
            const int got = ogg_sync_pageout(&s.sync, &page);
            if (got == 1) {
                if (ogg_page_serialno(&page) != s.serial) {
                    Bytes raw(page.header, page.header + page.header_len);
                    raw.insert(raw.end(), page.body, page.body + page.body_len);
                    s.otherPages.push_back(std::move(raw));
                    continue;
                }
                break;
            }
            if (got == 0 && !ReadMore()) {
                QM_RETURN(8, Fail("EOF before end of vorbis headers."));
            }
        }
        if (ogg_stream_pagein(&s.stream, &page) < 0) {
            QM_RETURN(9, Fail("Corrupt secondary header."));
        }
        doneBeforePage = found;
        pageNo = ogg_page_pageno(&page);
        pageEos = ogg_page_eos(&page) != 0;
        currentHeader.assign(page.header, page.header + page.header_len);
        currentBody.assign(page.body, page.body + page.body_len);
    }
    s.lastHeaderPageNo = pageNo;
    s.lastHeaderPageEos = pageEos;

    // Find where the set-up packet ends on its page: it is packet number
    // (3 - doneBeforePage) among the packets that end there.
    const int segments = currentHeader[26];
    int ends = 0;
    int segment = 0;
    std::size_t bodyOffset = 0;
    for (; segment < segments; ++segment) {
        const unsigned char lacing = currentHeader[27 + segment];
        bodyOffset += lacing;
        if (lacing < 255 && ++ends == 3 - doneBeforePage) {
            ++segment;
            break;
        }
    }
    if (segment < segments) {
        s.tailLacing.assign(currentHeader.begin() + 27 + segment,
                            currentHeader.begin() + 27 + segments);
        s.tailBody.assign(currentBody.begin() + static_cast<std::ptrdiff_t>(bodyOffset),
                          currentBody.end());
        bool completes = false;
        for (unsigned char lacing : s.tailLacing) {
            completes = completes || lacing < 255;
        }
        s.tailGranule = completes ? GranuleOf(currentHeader) : -1;
    }

    m_vendor = s.comment.vendor != nullptr ? s.comment.vendor : "";
    m_comments.clear();
    for (int i = 0; i < s.comment.comments; ++i) {
        m_comments.emplace_back(s.comment.user_comments[i],
                                static_cast<std::size_t>(s.comment.comment_lengths[i]));
    }
    QM_RETURN(10, true);
}

bool COggCommentEditor::Write(std::FILE* out, const std::vector<std::string>& comments) {
    QM_TRACE("OggCommentEditor");
    State& s = *m_state;
    if (!s.streamReady || s.headers[2].empty()) {
        QM_RETURN(0, Fail("No Ogg Vorbis stream has been read."));
    }
    auto put = [out](const void* data, std::size_t bytes) {
        return bytes == 0 || std::fwrite(data, 1, bytes, out) == bytes;
    };

    Bytes commentPacket = CommentPacket(m_vendor, comments);

    ogg_stream_state header;
    ogg_stream_init(&header, s.serial);
    ogg_packet packets[3] = {};
    packets[0].packet = s.headers[0].data();
    packets[0].bytes = static_cast<long>(s.headers[0].size());
    packets[0].b_o_s = 1;
    packets[1].packet = commentPacket.data();
    packets[1].bytes = static_cast<long>(commentPacket.size());
    packets[2].packet = s.headers[2].data();
    packets[2].bytes = static_cast<long>(s.headers[2].size());
    packets[2].e_o_s = s.lastHeaderPageEos && s.tailLacing.empty() ? 1 : 0;
    bool ok = true;
    long pagesWritten = 0;
    ogg_page page;
    for (int i = 0; i < 3 && ok; ++i) {
        packets[i].granulepos = 0;
        packets[i].packetno = i;
        ok = ogg_stream_packetin(&header, &packets[i]) == 0;
        // The identification packet has a page of its own; the other
        // streams' pages met among the headers follow it.
        if (i == 0 || i == 2) {
            while (ok && ogg_stream_flush(&header, &page) != 0) {
                ok = put(page.header, static_cast<std::size_t>(page.header_len)) &&
                     put(page.body, static_cast<std::size_t>(page.body_len));
                ++pagesWritten;
            }
        }
        if (i == 0) {
            for (const Bytes& other : s.otherPages) {
                ok = ok && put(other.data(), other.size());
            }
        }
    }
    ogg_stream_clear(&header);
    if (!ok) {
        QM_RETURN(1, Fail("Could not write the output file."));
    }

    // The page that held the end of the set-up packet and the start of the
    // audio keeps its audio part as a page of its own.
    const bool hasTail = !s.tailLacing.empty();
    if (hasTail) {
        Bytes head(27 + s.tailLacing.size(), 0);
        std::memcpy(head.data(), "OggS", 4);
        head[5] = s.lastHeaderPageEos ? 0x04 : 0x00;
        const auto granule = static_cast<std::uint64_t>(s.tailGranule);
        for (int i = 0; i < 8; ++i) {
            head[6 + i] = static_cast<unsigned char>(granule >> (8 * i));
        }
        PutU32(&head[14], static_cast<std::uint32_t>(s.serial));
        PutU32(&head[18], static_cast<std::uint32_t>(pagesWritten));
        head[26] = static_cast<unsigned char>(s.tailLacing.size());
        std::memcpy(&head[27], s.tailLacing.data(), s.tailLacing.size());
        ogg_page tail{head.data(), static_cast<long>(head.size()), s.tailBody.data(),
                      static_cast<long>(s.tailBody.size())};
        ogg_page_checksum_set(&tail);
        if (!put(head.data(), head.size()) || !put(s.tailBody.data(), s.tailBody.size())) {
            QM_RETURN(2, Fail("Could not write the output file."));
        }
        ++pagesWritten;
    }

    // Everything after the headers, page by page as read.
    const std::uint32_t shift = static_cast<std::uint32_t>(pagesWritten) -
                                static_cast<std::uint32_t>(s.lastHeaderPageNo + 1);
    bool streamEnded = s.lastHeaderPageEos;
    Bytes renumbered;
    for (;;) {
        const unsigned char* start = s.sync.data + s.sync.returned;
        const long result = ogg_sync_pageseek(&s.sync, &page);
        if (result < 0) {
            if (!put(start, static_cast<std::size_t>(-result))) {
                QM_RETURN(3, Fail("Could not write the output file."));
            }
            continue;
        }
        if (result == 0) {
            if (ReadMore()) {
                continue;
            }
            if (std::ferror(m_in) != 0) {
                QM_RETURN(4, Fail("Could not read the input file."));
            }
            // A cut-off last page stays as it was.
            const int left = s.sync.fill - s.sync.returned;
            if (left > 0 && !put(s.sync.data + s.sync.returned, static_cast<std::size_t>(left))) {
                QM_RETURN(5, Fail("Could not write the output file."));
            }
            break;
        }
        const unsigned char* headerBytes = page.header;
        if (!streamEnded && ogg_page_serialno(&page) == s.serial) {
            streamEnded = ogg_page_eos(&page) != 0;
            if (shift != 0) {
                renumbered.assign(page.header, page.header + page.header_len);
                const auto number = static_cast<std::uint32_t>(ogg_page_pageno(&page)) + shift;
                PutU32(&renumbered[18], number);
                ogg_page copy{renumbered.data(), page.header_len, page.body, page.body_len};
                ogg_page_checksum_set(&copy);
                headerBytes = renumbered.data();
            }
        }
        if (!put(headerBytes, static_cast<std::size_t>(page.header_len)) ||
            !put(page.body, static_cast<std::size_t>(page.body_len))) {
            QM_RETURN(6, Fail("Could not write the output file."));
        }
    }
    QM_RETURN(7, true);
}
