#include "disc/MusicBrainzRelease.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "core/Text.h"

namespace qm {

namespace {

struct XmlFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Is(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

const xmlNode* Child(const xmlNode* node, const char* name) {
    for (const xmlNode* child = node != nullptr ? node->children : nullptr; child != nullptr;
         child = child->next) {
        if (Is(child, name)) {
            return child;
        }
    }
    return nullptr;
}

template <typename Each> void Children(const xmlNode* node, const char* name, Each each) {
    for (const xmlNode* child = node != nullptr ? node->children : nullptr; child != nullptr;
         child = child->next) {
        if (Is(child, name)) {
            each(child);
        }
    }
}

// The text of a node as a name may hold it: no control characters.
std::string Text(const xmlNode* node) {
    if (node == nullptr) {
        return {};
    }
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    BlankControls(text);
    return text;
}

std::string ChildText(const xmlNode* node, const char* name) {
    return Text(Child(node, name));
}

std::string Attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

template <typename Number> Number ToNumber(const std::string& text, Number fallback) {
    Number value = fallback;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? value : fallback;
}

// An artist credit as printed: each credited name (as credited, else the
// artist's name) followed by its join phrase.
std::string Credit(const xmlNode* credit, std::string* firstId = nullptr) {
    std::string text;
    Children(credit, "name-credit", [&](const xmlNode* name) {
        const xmlNode* artist = Child(name, "artist");
        const std::string credited = ChildText(name, "name");
        text += !credited.empty() ? credited : ChildText(artist, "name");
        text += Attribute(name, "joinphrase");
        if (firstId != nullptr && firstId->empty()) {
            *firstId = Attribute(artist, "id");
        }
    });
    return text;
}

MbTrack ReadTrack(const xmlNode* node) {
    MbTrack track;
    const xmlNode* recording = Child(node, "recording");
    track.position = ToNumber<std::int32_t>(ChildText(node, "position"), 0);
    track.number = ChildText(node, "number");
    track.title = ChildText(node, "title");
    if (track.title.empty()) {
        track.title = ChildText(recording, "title");
    }
    track.artist = Credit(Child(node, "artist-credit"));
    if (track.artist.empty()) {
        track.artist = Credit(Child(recording, "artist-credit"));
    }
    track.lengthMs = ToNumber<std::int64_t>(ChildText(node, "length"), -1);
    if (track.lengthMs < 0) {
        track.lengthMs = ToNumber<std::int64_t>(ChildText(recording, "length"), -1);
    }
    return track;
}

MbMedium ReadMedium(const xmlNode* node) {
    MbMedium medium;
    medium.position = ToNumber<std::int32_t>(ChildText(node, "position"), 0);
    medium.title = ChildText(node, "title");
    medium.format = ChildText(node, "format");
    Children(Child(node, "disc-list"), "disc",
             [&](const xmlNode* disc) { medium.discIds.push_back(Attribute(disc, "id")); });
    medium.hasPregap = Child(node, "pregap") != nullptr;
    const xmlNode* list = Child(node, "track-list");
    medium.trackCount = ToNumber<std::int32_t>(Attribute(list, "count"), 0);
    Children(list, "track",
             [&](const xmlNode* track) { medium.tracks.push_back(ReadTrack(track)); });
    medium.dataTracks =
        ToNumber<std::int32_t>(Attribute(Child(node, "data-track-list"), "count"), 0);
    return medium;
}

MbRelease ReadRelease(const xmlNode* node) {
    MbRelease release;
    release.id = Attribute(node, "id");
    release.title = ChildText(node, "title");
    release.artist = Credit(Child(node, "artist-credit"), &release.artistId);
    release.date = ChildText(node, "date");
    release.country = ChildText(node, "country");
    const xmlNode* event = Child(Child(node, "release-event-list"), "release-event");
    if (release.date.empty()) {
        release.date = ChildText(event, "date");
    }
    release.barcode = ChildText(node, "barcode");
    const xmlNode* labelInfo = Child(Child(node, "label-info-list"), "label-info");
    release.label = ChildText(Child(labelInfo, "label"), "name");
    release.catalog = ChildText(labelInfo, "catalog-number");
    Children(Child(node, "medium-list"), "medium",
             [&](const xmlNode* medium) { release.media.push_back(ReadMedium(medium)); });
    return release;
}

// The answer's <metadata> element, or null with `error` set.
const xmlNode* Metadata(xmlDoc* doc, std::string* error) {
    const xmlNode* root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr) {
        *error = "the answer is not XML";
        return nullptr;
    }
    if (!Is(root, "metadata")) {
        *error = "the answer is not a MusicBrainz answer";
        return nullptr;
    }
    return root;
}

std::unique_ptr<xmlDoc, XmlFree> ReadXml(std::string_view xml) {
    // No network, no entity expansion, no DTD: the text is the answer alone.
    return std::unique_ptr<xmlDoc, XmlFree>(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "answer.xml", "UTF-8",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

} // namespace

bool ParseMbDiscAnswer(std::string_view xml, MbDiscAnswer* answer, std::string* error) {
    const auto doc = ReadXml(xml);
    const xmlNode* root = Metadata(doc.get(), error);
    if (root == nullptr) {
        return false;
    }
    const xmlNode* disc = Child(root, "disc");
    if (disc == nullptr) {
        *error = "the answer names no disc";
        return false;
    }
    answer->discId = Attribute(disc, "id");
    answer->releases.clear();
    Children(Child(disc, "release-list"), "release",
             [&](const xmlNode* release) { answer->releases.push_back(ReadRelease(release)); });
    return true;
}

bool ParseMbRelease(std::string_view xml, MbRelease* release, std::string* error) {
    const auto doc = ReadXml(xml);
    const xmlNode* root = Metadata(doc.get(), error);
    if (root == nullptr) {
        return false;
    }
    const xmlNode* node = Child(root, "release");
    if (node == nullptr) {
        *error = "the answer names no release";
        return false;
    }
    *release = ReadRelease(node);
    return true;
}

int FindMbMedium(const MbRelease& release, std::string_view discId, std::int32_t trackCount) {
    for (std::size_t i = 0; i < release.media.size(); ++i) {
        for (const std::string& id : release.media[i].discIds) {
            if (id == discId) {
                return static_cast<int>(i);
            }
        }
    }
    if (release.media.size() == 1) {
        return 0;
    }
    for (std::size_t i = 0; i < release.media.size(); ++i) {
        if (release.media[i].trackCount == trackCount) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<MbMatch> MbMatches(const std::vector<MbRelease>& releases, std::string_view discId,
                               std::int32_t trackCount) {
    std::vector<MbMatch> matches;
    for (const MbRelease& release : releases) {
        MbMatch match;
        match.id = release.id;
        match.title = release.title;
        match.artist = release.artist;
        match.date = release.date;
        match.country = release.country;
        match.medium = FindMbMedium(release, discId, trackCount);
        if (match.medium >= 0) {
            const MbMedium& medium = release.media[static_cast<std::size_t>(match.medium)];
            match.tracks = medium.trackCount > 0 ? medium.trackCount
                                                 : static_cast<std::int32_t>(medium.tracks.size());
        }
        match.release = release;
        matches.push_back(std::move(match));
    }
    return matches;
}

bool IsVariousArtists(const MbRelease& release) {
    return release.artistId == kMbVariousArtistsId ||
           EqualsNoCase(release.artist, "Various Artists");
}

void ApplyMbRelease(const MbRelease& release, int medium, DiscInfo* disc) {
    const bool known = medium >= 0 && static_cast<std::size_t>(medium) < release.media.size();
    disc->artist = release.artist;
    disc->title = release.title;
    if (release.media.size() > 1 && known) {
        disc->title += Format(" (disc %d/%zu)",
                              release.media[static_cast<std::size_t>(medium)].position > 0
                                  ? release.media[static_cast<std::size_t>(medium)].position
                                  : medium + 1,
                              release.media.size());
    }
    disc->year =
        release.date.size() >= 4 ? ToNumber<std::int32_t>(release.date.substr(0, 4), 0) : 0;
    disc->extd.clear();
    if (!release.label.empty() || !release.catalog.empty()) {
        disc->extd = release.label;
        if (!release.catalog.empty() && release.catalog != "[none]") {
            disc->extd += (disc->extd.empty() ? "" : " ") + release.catalog;
        }
    }
    if (!known) {
        return;
    }
    const bool various = IsVariousArtists(release);
    for (const MbTrack& track : release.media[static_cast<std::size_t>(medium)].tracks) {
        // Position 1 is the first track of the table of contents; the hidden
        // track of a pregap is no track of its own there.
        if (track.position < 1 || static_cast<std::size_t>(track.position) > disc->tracks.size()) {
            continue;
        }
        DiscTrackInfo& info = disc->tracks[static_cast<std::size_t>(track.position - 1)];
        info.title = track.title;
        info.artist = various || !EqualsNoCase(track.artist, release.artist) ? track.artist : "";
    }
}

} // namespace qm
