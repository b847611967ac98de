// What the CDDB chooser shows and decides, without the window: one row per
// match of the ripper's last query (its title corrected first), the choice
// made for the user when there is only one match, and the choice of the
// selected row. The dialog draws the rows and hands the choice to
// CCDRipper::ExtractCDInfo; the command line prints them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "disc/CddbAccess.h"
#include "disc/MusicBrainzRelease.h"

namespace qm {
// `title` without a repeat of the artist in front: a title that starts with
// text the artist ends with, then a '/' and the album ("Band / Album" where
// the artist is "Band") gives the album alone; any other title comes back
// as it is.
std::string WithoutRepeatedArtist(std::string_view artist, std::string_view title);
} // namespace qm

class CQueryCDDBInfo {
public:
    struct Column {
        const char* name;
        int width; // pixels
    };
    static constexpr Column kColumns[5] = {
        {"Artist", 150}, {"Album", 100}, {"Genre", 70}, {"Match", 53}, {"Source", 90}};
    static constexpr const char* kExactText = "Yes";
    static constexpr const char* kCddbSource = "CDDB";
    static constexpr const char* kMusicBrainzSource = "MusicBrainz";

    struct Row {
        std::string artist;
        std::string album;
        std::string genre;
        std::string match;  // "Yes" for an exact match, else ""
        std::string source; // "CDDB" or "MusicBrainz"
    };

    // The matches are the ripper's own (CCDRipper::GetCDDBMatches): the
    // corrections are made in them, so that the chosen match is used as shown.
    explicit CQueryCDDBInfo(std::span<qm::CddbMatch> matches);
    // Lists the releases of a MusicBrainz look-up after the CDDB matches, in
    // one chooser. Each row's album says the release's date, country and
    // track count, which tell releases of one title apart.
    CQueryCDDBInfo(std::span<qm::CddbMatch> matches, std::vector<qm::MbMatch> releases);

    // Corrects every match and builds the rows.
    void Init();
    // A title that starts with the artist's name, a '/' and the album ("Band /
    // Album" where the artist is "Band") becomes the album alone.
    void CorrectCDDBInfo(std::int32_t match);
    const std::vector<Row>& GetRows();
    // With exactly one match the chooser closes at once choosing it: 0; else -1.
    std::int32_t GetAutoChoice();
    // "OK": the match of the selected row, or -1 when none is selected.
    // Rows count the CDDB matches first, then the MusicBrainz releases.
    std::int32_t OnOK(std::int32_t selectedRow);
    // Whether row `row` is a MusicBrainz release, and its index among them.
    bool IsMusicBrainz(std::int32_t row) const;
    std::int32_t MusicBrainzIndex(std::int32_t row) const;
    const std::vector<qm::MbMatch>& GetReleases() const { return m_releases; }

private:
    std::span<qm::CddbMatch> m_matches;
    std::vector<qm::MbMatch> m_releases;
    std::vector<Row> m_rows;
};
