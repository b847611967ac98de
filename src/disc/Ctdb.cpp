#include "disc/Ctdb.h"

#include <algorithm>
#include <charconv>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <limits>
#include <memory>

#include "core/Text.h"
#include "core/Trace.h"

namespace qm {

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::string Attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) {
        return {};
    }
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

bool Hex(std::string_view text, std::uint32_t* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) {
            words.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return words;
}

// Submissions added up: an answer's confidences are the server's numbers,
// any size, and their sum stops at the largest int instead of overflowing.
int AddSubmissions(int sum, int confidence) {
    return static_cast<int>(
        std::min<std::int64_t>(std::int64_t{sum} + confidence, std::numeric_limits<int>::max()));
}

bool IsElement(xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

} // namespace

std::string CtdbTocString(const DiscToc& toc) {
    QM_TRACE("Ctdb");
    std::string text;
    for (const DiscTocTrack& track : toc.tracks) {
        text += (track.data ? "-" : "") + std::to_string(track.start) + ":";
    }
    QM_RETURN(0, text + std::to_string(toc.leadout));
}

std::string CtdbLookupUrl(const std::string& server, const DiscToc& toc) {
    QM_TRACE("Ctdb");
    std::string base = server;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    QM_RETURN(
        0, base + "/lookup2.php?version=3&ctdb=1&fuzzy=0&metadata=none&toc=" + CtdbTocString(toc));
}

std::optional<std::vector<CtdbEntry>> ParseCtdb(std::string_view xml) {
    QM_TRACE("Ctdb");
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "ctdb.xml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr || !IsElement(root, "ctdb")) {
        QM_RETURN(0, std::nullopt);
    }
    std::vector<CtdbEntry> entries;
    for (xmlNode* node = root->children; node != nullptr; node = node->next) {
        if (!IsElement(node, "entry")) {
            continue;
        }
        CtdbEntry entry;
        entry.id = Attribute(node, "id");
        entry.toc = Attribute(node, "toc");
        entry.confidence = std::max(0, LeadingInteger(Attribute(node, "confidence")));
        if (!Hex(Attribute(node, "crc32"), &entry.crc32)) {
            continue;
        }
        for (const std::string& word : Words(Attribute(node, "trackcrcs"))) {
            std::uint32_t crc = 0;
            if (!word.empty() && Hex(word, &crc)) {
                entry.trackCrcs.push_back(crc);
            }
        }
        entries.push_back(std::move(entry));
    }
    QM_RETURN(1, entries);
}

CtdbVerdict MatchCtdb(const std::vector<CtdbEntry>& entries, int position, std::uint32_t crc) {
    QM_TRACE("Ctdb");
    CtdbVerdict verdict;
    for (const CtdbEntry& entry : entries) {
        if (position < 1 || static_cast<std::size_t>(position) > entry.trackCrcs.size()) {
            continue;
        }
        verdict.submissions = AddSubmissions(verdict.submissions, entry.confidence);
        if (entry.trackCrcs[static_cast<std::size_t>(position - 1)] == crc) {
            verdict.confidence = std::max(verdict.confidence, entry.confidence);
            verdict.status = VerifyStatus::kMatch;
        }
    }
    if (verdict.status != VerifyStatus::kMatch && verdict.submissions > 0) {
        verdict.status = VerifyStatus::kMismatch;
    }
    QM_RETURN(0, verdict);
}

CtdbVerdict MatchCtdbDisc(const std::vector<CtdbEntry>& entries, std::uint32_t crc) {
    QM_TRACE("Ctdb");
    CtdbVerdict verdict;
    for (const CtdbEntry& entry : entries) {
        verdict.submissions = AddSubmissions(verdict.submissions, entry.confidence);
        if (entry.crc32 == crc) {
            verdict.confidence = std::max(verdict.confidence, entry.confidence);
            verdict.status = VerifyStatus::kMatch;
        }
    }
    if (verdict.status != VerifyStatus::kMatch && !entries.empty()) {
        verdict.status = VerifyStatus::kMismatch;
    }
    QM_RETURN(0, verdict);
}

std::string CtdbVerdictText(const CtdbVerdict& verdict) {
    QM_TRACE("Ctdb");
    switch (verdict.status) {
    case VerifyStatus::kMatch:
        QM_RETURN(0, Format("verified (confidence %d)", verdict.confidence));
    case VerifyStatus::kMismatch:
        QM_RETURN(1, Format("differs (%d submissions)", verdict.submissions));
    case VerifyStatus::kUnknown:
        break;
    }
    QM_RETURN(2, std::string("not in database"));
}

} // namespace qm
