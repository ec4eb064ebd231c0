#include "graph/SectionPresenter.h"

#include "base/UserInterface.h"
#include "graph/SectionControls.h"
#include "instrument/DataRecord.h"
#include "survey/Sequence.h"

#include <QVariant>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

namespace {

constexpr TGraphColor Opaque(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return PEargb(255, r, g, b);
}

QVariant Color(TGraphColor c)
{
    return QVariant::fromValue(quint32(c));
}

// The graph's look, set once per build. Names and values are the widget's to
// interpret; they change nothing the logic relies on.
constexpr std::size_t FixedPropertyCount = 48;

const std::pair<const char *, QVariant> &FixedProperty(std::size_t k)
{
    static const std::pair<const char *, QVariant> properties[FixedPropertyCount] = {
        {"RenderEngine", QStringLiteral("sgGdi")},
        {"BitmapGradientMode", false},
        {"ContourStyleLegend", true},
        {"AntiAliasGraphics", true},
        {"AntiAliasText", true},
        {"GraphDataLabels", false},
        {"AllowWmfExport", false},
        {"PrepareImages", true},
        {"CacheBmp", true},
        {"BarBorderColor", Color(Opaque(0, 0, 0))},
        {"BoxPlotColor", Color(Opaque(0, 0, 0))},
        {"DeskColor", Color(Opaque(224, 223, 227))},
        {"GraphBackColor", Color(Opaque(255, 255, 255))},
        {"GraphForeColor", Color(Opaque(192, 192, 192))},
        {"HatchBackColor", Color(Opaque(0, 0, 0))},
        {"PngTransparentColor", Color(Opaque(255, 255, 255))},
        {"ShadowColor", Color(Opaque(128, 128, 128))},
        {"TextColor", Color(Opaque(0, 0, 0))},
        {"TickColor", Color(Opaque(192, 192, 192))},
        {"GridLineControl", QStringLiteral("sgYPlusXAxis")},
        {"LegendLocation", QStringLiteral("sgLegendLeft")},
        {"AllowPointsPlusLine", true},
        {"AllowContourColors", true},
        {"AllowContourLines", true},
        {"ZoomStyle", QStringLiteral("sgFramed")},
        {"GridInFront", false},
        {"AllowPointsPlusSpline", false},
        {"AllowBestFitCurve", false},
        {"AllowBestFitLine", false},
        {"AllowSplineArea", false},
        {"AllowSpline", false},
        {"AllowPoint", false},
        {"AllowStick", false},
        {"AllowArea", false},
        {"AllowLine", false},
        {"AllowBar", false},
        {"AutoMinMaxPadding", 1},
        {"AllowZooming", QStringLiteral("sgHorzPlusVertZooming")},
        {"FontSize", QStringLiteral("sgSmall")},
        {"FixedFonts", true},
        {"AllowCustomizationPage1", true},
        {"AllowAxisPage", true},
        {"AllowStylePage", false},
        {"AllowSubsetsPage", false},
        {"BorderTypes", QStringLiteral("sgInset")},
        {"DataShadows", QStringLiteral("sgNo3D")},
        {"ScrollingVertZoom", true},
        {"ScrollingHorzZoom", true},
    };
    return properties[k];
}

} // namespace

TSectionPresenter::TSectionPresenter(TPseudoSection &model, TGraph2D &graph, TSectionControls &controls,
                                     TUserInterface &ui)
    : Model(model), Graph(graph), Controls(controls), Ui(ui)
{
}

int TSectionPresenter::PlaneOfCaption(const QString &caption)
{
    if (caption == QLatin1String("XZ"))
        return TPseudoSection::PlaneXZ;
    if (caption == QLatin1String("YZ"))
        return TPseudoSection::PlaneYZ;
    if (caption == QLatin1String("XY"))
        return TPseudoSection::PlaneXY;
    return -1;
}

QString TSectionPresenter::SectionCaption(int plane, int section) const
{
    const auto &list = Model.sectionLists[std::size_t(plane)];
    QLocale locale = Locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // "0.##": at most two decimals, no trailing zeros. The position itself,
    // rounded to the centimetre: its key reads -4.99 for a line at -5 m.
    double metres = std::round(list[std::size_t(section)].position * 100.0) / 100.0;
    if (metres == 0.0 || !std::isfinite(metres))
        metres = 0.0; // no "-0"
    QString value = locale.toString(metres, 'f', 2);
    const QString point = locale.decimalPoint();
    if (value.contains(point)) {
        while (value.endsWith(QLatin1Char('0')))
            value.chop(1);
        if (value.endsWith(point))
            value.chop(point.size());
    }
    return QLatin1String(TPseudoSection::CaptionPrefix(plane)) + value;
}

bool TSectionPresenter::BuildPseudoSection()
{
    TBusyScope busy(Ui);
    try {
        Controls.SetProgress(0, 1);
        Graph.Subsets(1);
        Graph.Points(1);
        ClearGrid();
        Model.Classify();
        // With no section there is no tab to read: the grids and the graph
        // are left as they are.
        if (!RefreshPlaneSelector())
            return false;
        Model.Place();
        ConfigureGraph();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool TSectionPresenter::RefreshPlaneSelector()
{
    Controls.ClearPlaneTabs();
    Controls.ClearSections();
    const struct {
        int Plane;
        const char *Caption;
    } tabs[] = {{TPseudoSection::PlaneXZ, "XZ"}, {TPseudoSection::PlaneYZ, "YZ"}, {TPseudoSection::PlaneXY, "XY"}};
    for (const auto &tab : tabs)
        if (!Model.sectionLists[std::size_t(tab.Plane)].empty())
            Controls.AddPlaneTab(QLatin1String(tab.Caption));
    if (Controls.PlaneTabCount() == 0)
        return false;
    Controls.SelectPlaneTab(0);
    FillSectionList(PlaneOfCaption(Controls.PlaneTabCaption(0)));
    return true;
}

void TSectionPresenter::SetRanges(int plane)
{
    const auto &lo = Model.planeMin[std::size_t(plane)];
    const auto &hi = Model.planeMax[std::size_t(plane)];
    const double mx = (double(hi[0]) - lo[0]) * 0.005;
    Graph.ManualMaxX(double(hi[0]) + mx);
    Graph.ManualMinX(double(lo[0]) - mx);
    // Depths go up negated, each end widened by 1 % of the span.
    const double my = (double(lo[1]) - hi[1]) * 0.01;
    Graph.ManualMaxY(-(double(lo[1]) + my));
    Graph.ManualMinY(-(double(hi[1]) - my));
}

void TSectionPresenter::ConfigureGraph()
{
    Graph.NullDataValueX(double(TPseudoSection::NoValue));
    Graph.NullDataValueY(double(TPseudoSection::NoValue));
    Graph.Appearance(QStringLiteral("NullDataGaps"), false);
    Graph.InvertedYAxis(true);

    // Until the first drawing, the axes span the "XZ" plane whatever tab is selected.
    Graph.ManualScaleControlX(TScaleControl::sgManualMinAndMax);
    Graph.ManualScaleControlY(TScaleControl::sgManualMinAndMax);
    SetRanges(TPseudoSection::PlaneXZ);

    const TScale z = ScaleFor(10.0f, 500.0f);
    Graph.ManualScaleControlZ(TScaleControl::sgManualMinAndMax);
    Graph.ManualMinZ(z.Min);
    Graph.ManualMaxZ(z.Max);
    Graph.ManualZAxisLine(z.Step);

    for (std::size_t k = 0; k < FixedPropertyCount; ++k) {
        const auto &[name, value] = FixedProperty(k);
        Graph.Appearance(QLatin1String(name), value);
    }
    Graph.PlottingMethod(TPlottingMethod::sgContourColors);
    Graph.InvertedYAxis(true);
    Graph.MainTitle(QStringLiteral(" "));
    Graph.SubTitle(QString());
    Graph.XAxisLabel(QStringLiteral("mid point (m)"));
    Graph.YAxisLabel(QStringLiteral("report point  (m)"));
    Graph.Appearance(QStringLiteral("ShowGraphAnnotations"), false);
    Graph.Appearance(QStringLiteral("AllowAnnotationControl"), true);
    Graph.Appearance(QStringLiteral("GraphAnnotationTextSize"), 75);
    Graph.Appearance(QStringLiteral("AnnotationsInFront"), true);
    Graph.Appearance(QStringLiteral("ShowAnnotations"), true);

    ApplyColorScale();
    Ui.Yield();
}

void TSectionPresenter::FillSectionList(int plane)
{
    Controls.ClearSections();
    if (plane < 0 || plane >= TPseudoSection::PlaneCount)
        return;
    const auto &list = Model.sectionLists[std::size_t(plane)];
    if (list.empty())
        return;
    for (std::size_t s = 0; s < list.size(); ++s)
        Controls.AddSection(SectionCaption(plane, int(s)));
    Controls.SelectSection(0);
    Controls.SetSectionChecked(0, true);
    // Only once a run has counted its last block; the build sets the bar to
    // 0 of 1 so that it never draws here.
    if (Controls.ProgressPosition() == Controls.ProgressMaximum()) {
        TBusyScope busy(Ui);
        UpdatePseudoSection(nullptr, 0, 0);
    }
}

void TSectionPresenter::TabPlaneChange()
{
    const int tab = Controls.SelectedPlaneTab();
    if (tab < 0)
        return;
    const int plane = PlaneOfCaption(Controls.PlaneTabCaption(tab));
    if (plane < 0)
        return;
    FillSectionList(plane);
    // Outside a run (the bar back at 0 after it) the new plane is drawn at
    // once, as a section click does; during a run the next block draws it.
    if (Controls.ProgressPosition() == 0 && Controls.ProgressPosition() != Controls.ProgressMaximum()
        && Model.HasPlacement()) {
        TBusyScope busy(Ui);
        UpdatePseudoSection(nullptr, 0, 0);
    }
}

void TSectionPresenter::SectionGroupClick()
{
    for (int i = 0; i < Controls.SectionCount(); ++i)
        Controls.SetSectionChecked(i, false);
    const int selected = Controls.SelectedSection();
    if (selected < 0)
        return;
    Controls.SetSectionChecked(selected, true);
    // Once a run has counted a block, its next block redraws the new section.
    if (Controls.ProgressPosition() == 0) {
        TBusyScope busy(Ui);
        UpdatePseudoSection(nullptr, 0, 0);
    }
}

void TSectionPresenter::ResetAnnotations()
{
    Graph.GraphAnnotationX(-1, 0.0);
    Graph.GraphAnnotationY(-1, 0.0);
    Graph.GraphAnnotationType(-1, 0);
    Graph.GraphAnnotationColor(-1, 0);
    Graph.GraphAnnotationText(-1, QStringLiteral("0"));
    Graph.Appearance(QStringLiteral("AnnotationSizeCntl"), 0.1);
    Graph.Appearance(QStringLiteral("MaxSymbolSize"), QStringLiteral("sgSmallMPS"));
    Graph.Appearance(QStringLiteral("MinAnnotationSymbolSize"), QStringLiteral("sgSmallMPS"));
}

void TSectionPresenter::ClearGrid()
{
    // A fresh grid holds zeros, which is a position and a value: the cell
    // would be painted. Nothing is drawn until a section is.
    const float none = TPseudoSection::NoValue;
    Graph.XData(0, -1, none);
    Graph.YData(0, -1, none);
    Graph.ZData(0, -1, none);
}

void TSectionPresenter::WriteCell(int row, int column, float x, float y, float z, bool copyRow)
{
    Graph.XData(row, column, x);
    // A quadripole not measured (yet, or after Stop) never blanks the value
    // measured for another one sharing the cell.
    if (z == TPseudoSection::NoValue && Graph.ZData(row, column) != TPseudoSection::NoValue)
        z = Graph.ZData(row, column);
    Graph.ZData(row, column, z);
    Graph.YData(row, column, y);
    // A single row is drawn as two identical ones: contours need two.
    if (copyRow) {
        Graph.XData(1, column, x);
        Graph.ZData(1, column, z);
        Graph.YData(1, column, y);
    }
}

QString TSectionPresenter::PlaneCaption(int plane, int section) const
{
    static const char *const names[] = {"YZ", "XZ", "XY"};
    return QStringLiteral("Rho pseudo section, %1 plane, %2")
        .arg(QLatin1String(names[plane]), SectionCaption(plane, section));
}

void TSectionPresenter::DescribePlane(int plane, int section)
{
    // The map of a depth slice is drawn north up and its vertical axis reads
    // Y; the vertical sections read depths growing downwards.
    const bool map = plane == TPseudoSection::PlaneXY;
    Graph.YAxisLabel(map ? QStringLiteral("Y (m)") : QStringLiteral("report point  (m)"));
    Graph.Appearance(QStringLiteral("YAxisUp"), map);
    Graph.Appearance(QStringLiteral("Caption"), PlaneCaption(plane, section));
    static const char *const columns[] = {"y,depth", "x,depth", "x,y"};
    Graph.Appearance(QStringLiteral("CsvColumns"), QLatin1String(columns[plane]));
}

void TSectionPresenter::Redraw(int plane, int section)
{
    const TPseudoSection::SlistPoint &s = Model.sectionLists[std::size_t(plane)][std::size_t(section)];
    const bool singleRow = s.rowCount == 1;
    ResetAnnotations();
    Graph.Subsets(singleRow ? 2 : s.rowCount);
    Graph.Points(s.columnCount);
    ClearGrid();
    SetRanges(plane);
    DescribePlane(plane, section);

    const int count = static_cast<int>(Model.rhoValues.size());
    int annotation = 0;
    for (int i = 0; i < count; ++i) {
        TPseudoSection::TPosition pos;
        const auto cells = Model.CellsOf(i, plane, section, pos);
        if (!cells)
            continue;
        Graph.GraphAnnotationX(annotation, pos.Horizontal);
        Graph.GraphAnnotationY(annotation, -pos.Vertical);
        Graph.GraphAnnotationType(annotation, 1);
        Graph.GraphAnnotationColor(annotation, Opaque(0, 0, 0));
        Graph.GraphAnnotationText(annotation, QString());
        ++annotation;
        const auto x = static_cast<float>(pos.Horizontal);
        const auto y = static_cast<float>(-pos.Vertical);
        const float z = Model.Shown(i, Controls.HideFlagged());
        for (int c = cells->firstColumn; c <= cells->lastColumn; ++c)
            WriteCell(cells->row, c, x, y, z, singleRow);
    }
    Model.lastPlane = plane;
    Model.lastSection = section;
}

void TSectionPresenter::HideFlaggedClick()
{
    Model.lastPlane = -1; // drawn again from the stored values
    TBusyScope busy(Ui);
    UpdatePseudoSection(nullptr, 0, 0);
}

void TSectionPresenter::SetQualityFlags(int i, unsigned flags)
{
    if (Model.SetFlags(i, flags) && Controls.HideFlagged())
        Model.lastPlane = -1;
}

void TSectionPresenter::ClearQualityFlags()
{
    const bool shown = Controls.HideFlagged() &&
                       std::any_of(Model.qcFlags.begin(), Model.qcFlags.end(), [](unsigned f) { return f != 0; });
    std::fill(Model.qcFlags.begin(), Model.qcFlags.end(), 0u);
    if (shown)
        Model.lastPlane = -1;
}

void TSectionPresenter::UpdatePseudoSection(const TDataRecord *records, int first, int count)
{
    try {
        int plane = -1, section = -1;
        const int tab = Controls.SelectedPlaneTab();
        if (tab >= 0)
            plane = PlaneOfCaption(Controls.PlaneTabCaption(tab));
        if (plane >= 0) {
            section = Controls.SelectedSection();
            if (section >= static_cast<int>(Model.sectionLists[std::size_t(plane)].size()))
                section = -1;
        }
        const bool drawable = plane >= 0 && section >= 0;
        if (drawable && (plane != Model.lastPlane || section != Model.lastSection))
            Redraw(plane, section);

        // Values are stored even when nothing can be drawn, so that a later
        // drawing shows them.
        const bool singleRow = drawable && Model.sectionLists[std::size_t(plane)][std::size_t(section)].rowCount == 1;
        const int quadCount = static_cast<int>(Model.rhoValues.size());
        for (int k = 0; records && k < count; ++k) {
            const int i = first + k;
            if (i < 0 || i >= quadCount || Model.Survey.Quads[std::size_t(i)].Level < 0)
                continue;
            Model.StoreRho(i, records[k].Rho);
            if (!drawable)
                continue;
            const auto cells = Model.CellsOf(i, plane, section);
            if (!cells)
                continue;
            const float z = Model.Shown(i, Controls.HideFlagged());
            for (int c = cells->firstColumn; c <= cells->lastColumn; ++c) {
                Graph.ZData(cells->row, c, z);
                if (singleRow)
                    Graph.ZData(1, c, z);
            }
        }
        if (Controls.RhoPageShowing())
            ApplyColorRange();
    } catch (const std::exception &) {
        // What was stored or drawn stays; the next block carries on.
    }
    Ui.Yield();
}

TSectionPresenter::TScale TSectionPresenter::ScaleFor(float lo, float hi)
{
    TScale scale{std::floor(lo), std::ceil(hi), 0.0f};
    // Before any value the running range is inverted (+9e30 .. -9e30): the
    // step is then taken from a 50-wide range around its middle.
    if (lo - 50.0f > hi) {
        hi = (lo + hi) * 0.5f + 25.0f;
        lo = hi - 50.0f;
    }
    scale.Step = static_cast<float>(std::floor(double(hi - lo) * 0.02 + 1.0));
    return scale;
}

TSectionPresenter::TScale TSectionPresenter::RunningScale(float rhoMin, float rhoMax)
{
    float lo = rhoMin, hi = rhoMax;
    // Early in a run values a few Ohm.m apart would spread over the whole
    // table and turn noise into a checkerboard: the range spans at least
    // 5 % of the mean on each side.
    if (lo <= hi) {
        const double mean = (double(lo) + double(hi)) * 0.5;
        const double half = std::fabs(mean) * MinimumSpan;
        if (double(hi) - double(lo) < 2 * half) {
            lo = static_cast<float>(std::min(double(lo), mean - half));
            hi = static_cast<float>(std::max(double(hi), mean + half));
        }
    }
    return ScaleFor(std::floor(lo), std::ceil(hi));
}

void TSectionPresenter::ApplyColorRange()
{
    const TScale z = rangeMode == RangeManual ? ScaleFor(manualMin, manualMax)
                                              : RunningScale(Model.rhoMin, Model.rhoMax);
    Graph.ManualScaleControlZ(TScaleControl::sgManualMinAndMax);
    Graph.ManualMinZ(z.Min);
    Graph.ManualMaxZ(z.Max);
    Graph.ManualZAxisLine(z.Step);
    ApplyColorScale();
}

TSectionPresenter::TColorTable TSectionPresenter::ColorTable(int a, int e)
{
    const int q = (e - a) / 4;
    const int b = a + q, c = b + q, d = c + q;
    TColorTable table{};
    // Each segment divides by its own width only when it holds an entry.
    for (int i = 0; i < ColorCount; ++i) {
        int red = 0, green = 0, blue = 0;
        if (i < a) {
            blue = 55 + 150 * i / a;
        } else if (i < b) {
            green = 255 * (i - a) / (b - a);
            blue = 255;
        } else if (i < c) {
            green = 255;
            blue = 255 - 255 * (i - b) / (c - b);
        } else if (i < d) {
            red = 255 * (i - c) / (d - c);
            green = 255;
        } else if (i < e) {
            red = 255;
            green = 255 - 255 * (i - d) / (e - d);
        } else {
            red = 255 - 150 * (i - e) / (51 - e);
        }
        table[std::size_t(i)] = Opaque(std::uint8_t(red), std::uint8_t(green), std::uint8_t(blue));
    }
    return table;
}

void TSectionPresenter::ApplyColorScale()
{
    if (Controls.SMaxPosition() <= Controls.SMinPosition()) {
        const int top = Controls.SMaxPosition();
        Controls.SetSMinPosition(top - 2);
        Controls.SetSMaxPosition(top + 2);
    }
    const TColorTable table = ColorTable(Controls.SMinPosition(), Controls.SMaxPosition());
    for (int i = 0; i < ColorCount; ++i)
        Graph.SubsetColors(i, table[std::size_t(i)]);
    try {
        Graph.PEactions(TGraph2DAction::sgReinitAndReset);
    } catch (const std::exception &) {
        // The table is set; the graph redraws it at its next reinitialisation.
    }
}

namespace {

QLocale NumberLocale(QLocale locale)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

void TSectionPresenter::FormShow(TRangeDialog &dialog)
{
    // With "Full range" checked the click writes the running range into the
    // edits as showing does; unchecked, showing writes nothing either.
    AutoScaleRbClick(dialog);
}

void TSectionPresenter::AutoScaleRbClick(TRangeDialog &dialog)
{
    if (!dialog.FullRange) {
        dialog.RangeEnabled = true;
        return;
    }
    // Before any value (right after a build the running range is inverted,
    // +9e30 .. -9e30) the edits keep what they show.
    if (Model.rhoMin <= Model.rhoMax) {
        const TScale z = RunningScale(Model.rhoMin, Model.rhoMax);
        const QLocale locale = NumberLocale(Locale);
        dialog.MinText = locale.toString(double(z.Min), 'g', 15);
        dialog.MaxText = locale.toString(double(z.Max), 'g', 15);
    }
    dialog.RangeEnabled = false;
    ApplyRange(dialog);
}

namespace {
// A number of the edit, or nothing when it holds none the graph can take.
std::optional<double> RangeNumber(const QLocale &locale, const QString &text)
{
    bool ok = false;
    const double v = NumberLocale(locale).toDouble(text.trimmed(), &ok);
    if (!ok || !(std::fabs(v) <= double(std::numeric_limits<float>::max())))
        return std::nullopt;
    return v;
}
} // namespace

QString TSectionPresenter::RangeProblem(const TRangeDialog &dialog) const
{
    if (dialog.FullRange)
        return {};
    const struct {
        const char *Name;
        const QString &Text;
    } edits[] = {{"Minimum", dialog.MinText}, {"Maximum", dialog.MaxText}};
    for (const auto &e : edits)
        if (!RangeNumber(Locale, e.Text))
            return QStringLiteral("%1 \"%2\" is not a number (for example %3): the colour range is unchanged.")
                .arg(QLatin1String(e.Name), e.Text.trimmed(), NumberLocale(Locale).toString(12.5));
    return {};
}

bool TSectionPresenter::ApplyRange(const TRangeDialog &dialog)
{
    if (dialog.FullRange) {
        rangeMode = RangeRunning;
    } else {
        const auto min = RangeNumber(Locale, dialog.MinText), max = RangeNumber(Locale, dialog.MaxText);
        if (!min || !max)
            return false;
        const double lo = *min, hi = *max;
        if (hi < lo)
            return true;
        manualMin = static_cast<float>(lo);
        manualMax = static_cast<float>(hi);
        rangeMode = RangeManual;
    }
    ApplyColorRange();
    return true;
}
