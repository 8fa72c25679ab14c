#pragma once
// The made-up text of the synthetic feed: company names, section titles and section bodies
// in GBK, drawn from small pools with a seeded generator so that a seed always gives the
// same bytes on every machine (no std distributions: their results differ between
// standard libraries).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// splitmix64: tiny, fast, and its output depends on nothing but the state.
class TRandom {
 public:
  explicit TRandom(std::uint64_t state) : FState(state) {}
  // One generator per (seed, stream, item), so an item's bytes do not depend on how many
  // items were made before it.
  TRandom(std::uint64_t seed, std::uint64_t stream, std::uint64_t item);
  std::uint64_t Next();
  // A number in [0, n); n must be at least 1.
  std::uint32_t Below(std::uint32_t n);

 private:
  std::uint64_t FState;
};

class TFeedText {
 public:
  // Converts the pools to GBK once.
  TFeedText();

  // The banner line every section file starts with (holds BannerText).
  const std::string& BannerLine() const { return FBannerLine; }
  // The title of section i of a stock (0-based); titles repeat with a number past the pool.
  std::string SectionTitle(int i) const;
  // The title of template text i of the market-index composites.
  std::string TemplateTitle(int i) const;
  // A made-up company name.
  std::string CompanyName(TRandom& random) const;

  // A stock's section file: the banner line, the line "title→name(code) ...", then body
  // lines until about `targetBytes` bytes (never more, unless the two leading lines alone
  // are longer). Every line ends with CR LF. `date` is "YYYY-MM-DD".
  void SectionText(TRandom& random, std::string_view title, std::string_view company,
                   std::string_view code, std::string_view date, std::size_t targetBytes,
                   std::string& out) const;
  // A text of the composite template: a title line that is also a banner line
  // ("`" + title + BannerTail), the "title→..." line, then body lines as above.
  void TemplateText(TRandom& random, std::string_view title, std::string_view date,
                    std::size_t targetBytes, std::string& out) const;

 private:
  void BodyLines(TRandom& random, std::string_view date, std::size_t targetBytes,
                 std::string& out) const;
  void BodyLine(TRandom& random, std::string_view date, std::string& line) const;

  std::string FBannerLine;
  std::string FArrow;
  std::string FIndent;
  std::string FSeparator;
  std::string FDiamond;
  std::string FUpdated;
  std::string FOpenBracket;
  std::string FCloseBracket;
  std::string FIndexName;
  std::vector<std::string> FSentences;
  std::vector<std::string> FSectionTitles;
  std::vector<std::string> FTemplateTitles;
  std::vector<std::string> FTableLabels;
  std::vector<std::string> FNameHeads;
  std::vector<std::string> FNameTails;
  std::vector<std::string> FNameKinds;
};
