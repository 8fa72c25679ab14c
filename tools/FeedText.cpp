#include "FeedText.h"

#include <cstdio>

#include "Convert.h"
#include "RunTexts.h"

namespace {

std::vector<std::string> ToGbk(std::initializer_list<const char*> utf8) {
  std::vector<std::string> gbk;
  gbk.reserve(utf8.size());
  for (const char* text : utf8) gbk.push_back(Utf8ToGbk(text));
  return gbk;
}

void AddLine(std::string& out, std::string_view line) {
  out.append(line);
  out.append("\r\n");
}

}  // namespace

TRandom::TRandom(std::uint64_t seed, std::uint64_t stream, std::uint64_t item) : FState(seed) {
  // Each part goes through a full mixing step, so neighbouring items and streams start far
  // apart in the generator's sequence.
  FState = Next() ^ (stream * 0xD1B54A32D192ED03ull);
  FState = Next() ^ (item * 0x8CB92BA72F3D8DD7ull);
  Next();
}

std::uint64_t TRandom::Next() {
  std::uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint32_t TRandom::Below(std::uint32_t n) {
  return static_cast<std::uint32_t>(((Next() >> 32) * n) >> 32);
}

TFeedText::TFeedText()
    : FBannerLine(Utf8ToGbk("\u3000\u3000\u3000\u3000") + Texts::BannerText),
      FArrow(Texts::Arrow),
      FIndent(Utf8ToGbk("\u3000\u3000")),
      FSeparator(Utf8ToGbk("────────────────────────────────")),
      FDiamond(Utf8ToGbk("◇")),
      FUpdated(Utf8ToGbk(" 更新日期：")),
      FOpenBracket(Utf8ToGbk("【")),
      FCloseBracket(Utf8ToGbk("】")),
      FIndexName(Utf8ToGbk("综合指数")) {
  FSentences = ToGbk({
      "公司主营业务稳定，报告期内经营活动产生的现金流量净额保持增长。",
      "本公司坚持稳健经营的原则，持续优化产品结构与客户结构。",
      "董事会审议通过了年度利润分配预案，尚需提交股东大会审议。",
      "报告期内公司研发投入占营业收入的比例较上年同期有所提高。",
      "公司所处行业竞争格局较为分散，区域性企业数量众多。",
      "受原材料价格波动影响，公司毛利率较上年同期略有下降。",
      "公司控股股东及实际控制人在报告期内未发生变化。",
      "募集资金投资项目按计划推进，部分项目已进入试生产阶段。",
      "公司应收账款周转天数有所延长，管理层已加强回款考核。",
      "本期非经常性损益主要来自政府补助及资产处置收益。",
      "公司海外业务收入占比提升，汇率变动对利润产生一定影响。",
      "截至报告期末，公司前十名股东合计持股比例较上期末有所下降。",
      "公司新建生产线已通过验收，产能利用率逐步提升。",
      "行业政策总体平稳，下游需求呈现结构性分化。",
      "公司与多家科研院所建立了长期合作关系，技术储备较为充足。",
      "监事会对本期财务报告出具了无异议的审核意见。",
      "公司资产负债率处于行业中等水平，短期偿债能力良好。",
      "报告期内公司未发生重大诉讼、仲裁事项。",
      "公司拟以自有资金回购部分社会公众股份，用于员工持股计划。",
      "本期存货规模有所增加，主要系为应对订单增长而备货所致。",
      "公司销售网络覆盖全国主要省市，渠道建设持续完善。",
      "管理层预计下一报告期经营业绩将保持平稳。",
      "公司获得多项发明专利授权，核心技术具有自主知识产权。",
      "本期营业成本增幅低于营业收入增幅，盈利能力有所改善。",
      "注：以上数据单位为人民币万元，除特别说明外均为合并报表口径。",
      "公司治理结构完善，独立董事在重大事项中充分发表了意见。",
      "Q3 revenue grew 4.2% y/y; gross margin 21.7% (prior 22.9%).",
      "EPS 0.37 CNY, BVPS 5.12 CNY, ROE 7.4%, debt ratio 41.8%.",
  });
  FSectionTitles = ToGbk({"最新提示", "公司概况", "财务分析", "股东研究", "股本结构",
                          "资本运作", "经营分析", "行业分析", "公司大事", "分红融资",
                          "高管治理", "关联企业"});
  FTemplateTitles = ToGbk({"指数概况", "样本股构成", "行业分布", "市场统计", "指数大事",
                           "编制方法"});
  FTableLabels = ToGbk({"营业收入(万元)", "净利润(万元)", "每股收益(元)", "每股净资产(元)",
                        "净资产收益率(%)", "经营现金流(万元)", "总资产(万元)", "股东户数(户)"});
  FNameHeads = ToGbk({"岚", "澄", "汀", "溯", "栖", "砚", "湄", "楠", "琅", "澜", "峤", "霁",
                      "沅", "屹", "芷", "渝"});
  FNameTails = ToGbk({"川", "原", "江", "峰", "屿", "岭", "泉", "阳", "禾", "丰", "达", "泰"});
  FNameKinds = ToGbk({"科技", "实业", "电子", "药业", "新材", "能源", "控股", "智造", "股份",
                      "食品", "物流", "环境"});
}

std::string TFeedText::SectionTitle(int i) const {
  const std::size_t n = FSectionTitles.size();
  const std::size_t k = static_cast<std::size_t>(i);
  std::string title = FSectionTitles[k % n];
  if (k >= n) title += std::to_string(k / n + 1);
  return title;
}

std::string TFeedText::TemplateTitle(int i) const {
  const std::size_t n = FTemplateTitles.size();
  const std::size_t k = static_cast<std::size_t>(i);
  std::string title = FTemplateTitles[k % n];
  if (k >= n) title += std::to_string(k / n + 1);
  return title;
}

std::string TFeedText::CompanyName(TRandom& random) const {
  auto pick = [&random](const std::vector<std::string>& pool) -> const std::string& {
    return pool[random.Below(static_cast<std::uint32_t>(pool.size()))];
  };
  std::string name = pick(FNameHeads);
  name += pick(FNameTails);
  name += pick(FNameKinds);
  return name;
}

void TFeedText::SectionText(TRandom& random, std::string_view title, std::string_view company,
                            std::string_view code, std::string_view date,
                            std::size_t targetBytes, std::string& out) const {
  out.clear();
  AddLine(out, FBannerLine);
  std::string line;
  line.append(title).append(FArrow).append(company);
  line.append("(").append(code).append(")").append(FUpdated).append(date);
  AddLine(out, line);
  line.assign(FOpenBracket).append(title).append(FCloseBracket);
  if (out.size() + line.size() + 2 <= targetBytes) AddLine(out, line);
  BodyLines(random, date, targetBytes, out);
}

void TFeedText::TemplateText(TRandom& random, std::string_view title, std::string_view date,
                             std::size_t targetBytes, std::string& out) const {
  out.clear();
  std::string line = Texts::Backtick;
  line.append(title).append(Texts::BannerTail);
  AddLine(out, line);
  line.assign(title).append(FArrow).append(FIndexName);
  line.append(FUpdated).append(date);
  AddLine(out, line);
  BodyLines(random, date, targetBytes, out);
}

void TFeedText::BodyLines(TRandom& random, std::string_view date, std::size_t targetBytes,
                          std::string& out) const {
  // A line that does not fit gets a few chances to be replaced by a shorter one, so the
  // file ends within about one line's length of the size asked for.
  std::string line;
  int misses = 0;
  while (misses < 8) {
    BodyLine(random, date, line);
    if (out.size() + line.size() + 2 > targetBytes) {
      ++misses;
      continue;
    }
    AddLine(out, line);
  }
}

void TFeedText::BodyLine(TRandom& random, std::string_view date, std::string& line) const {
  line.clear();
  const std::uint32_t kind = random.Below(100);
  const auto sentence = [&]() -> const std::string& {
    return FSentences[random.Below(static_cast<std::uint32_t>(FSentences.size()))];
  };
  if (kind < 55) {  // a paragraph of one to three sentences
    line = FIndent;
    const std::uint32_t count = 1 + random.Below(3);
    for (std::uint32_t i = 0; i < count; ++i) line += sentence();
  } else if (kind < 72) {  // a table row: label, date, figure
    const std::string& label =
        FTableLabels[random.Below(static_cast<std::uint32_t>(FTableLabels.size()))];
    line = "  ";
    line += label;
    if (label.size() < 18) line.append(18 - label.size(), ' ');
    line.append(date);
    char figure[32];
    const std::uint32_t value = random.Below(100000000);
    std::snprintf(figure, sizeof figure, "  %12u.%02u", value / 100, value % 100);
    line += figure;
  } else if (kind < 80) {  // an empty line
  } else if (kind < 86) {
    line = FSeparator;
  } else {  // a note
    line = "  ";
    line += FDiamond;
    line += sentence();
  }
}
