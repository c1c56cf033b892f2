#include "profile_support.h"
#include "pseudovoigt.h"
#include "spline.h"

#include <gtest/gtest.h>

namespace {
float model_at(std::vector<float> p, int at)
{
    std::vector<float> hx(200, -1.0f);
    pseudovoigt_model(p.data(), hx.data(), static_cast<int>(p.size()), 200, nullptr);
    return hx[static_cast<size_t>(at)];
}

// A record ready for the prefit: ysub = y (no background), spline points of
// height 0, and positions with the readers' start values 100, 10, 0.
profile_data prefit_record(const std::vector<float> &y, const std::vector<float> &sx,
                           const std::vector<float> &positions)
{
    auto rec = record_of(y);
    set_splines(rec, sx, std::vector<float>(sx.size(), 0.0f));
    std::vector<float> table;
    for (float p : positions) table.insert(table.end(), {p, 100, 10, 0});
    set_peaks(rec, table.data(), static_cast<int32_t>(positions.size()));
    rec.ysub = std::make_unique<float[]>(y.size());
    std::copy(y.begin(), y.end(), rec.ysub.get());
    return rec;
}
}  // namespace

TEST(PseudoVoigt, ValuesAtTheCentreAndClampedParameters)
{
    EXPECT_NEAR(model_at({100, 1000, 5, 0}, 100), 93.94f, 0.01f);  // 1000 sqrt(ln2/pi)/5
    EXPECT_NEAR(model_at({100, 1000, 5, 1}, 100), 63.66f, 0.01f);  // 1000/(pi 5)
    EXPECT_EQ(model_at({100, 1000, 5, 1.7f}, 97), model_at({100, 1000, 5, 1}, 97));
    EXPECT_EQ(model_at({100, 1000, 5, -0.3f}, 97), model_at({100, 1000, 5, 0}, 97));
    EXPECT_EQ(model_at({100, -1000, -5, 0.4f}, 93), model_at({100, 1000, 5, 0.4f}, 93));
    // m = 6 is one peak; two peaks add; half maximum at x0 + w.
    EXPECT_EQ(model_at({100, 1000, 5, 0.4f, 50, 1e6f}, 50), model_at({100, 1000, 5, 0.4f}, 50));
    EXPECT_FLOAT_EQ(model_at({100, 1000, 5, 0.4f, 110, 500, 3, 0.2f}, 104),
                    model_at({100, 1000, 5, 0.4f}, 104) + model_at({110, 500, 3, 0.2f}, 104));
    EXPECT_NEAR(model_at({100, 1000, 5, 0.6f}, 105), 0.5f * model_at({100, 1000, 5, 0.6f}, 100), 1e-3f);
    EXPECT_NEAR(model_at({100, 1000, 5, 0.6f}, 105), pseudo_voigt(105, 100, 1000, 5, 0.6), 1e-4f);
}

TEST(Prefit, StartValuesOfLonePeaksAndGroups)
{
    // Fewer samples than parameters make the group fits fail, so the start
    // values stay for inspection.
    std::vector<float> y(30, 0.0f);
    y[10] = 900;
    y[11] = 100;
    auto lone = prefit_record(y, {10, 12, 25}, {11});
    prefitpeaks(lone, 1000.0f);
    EXPECT_EQ(peak_row(lone, 0), (std::vector<float>{11, 1000, 4.6f, 0.5f}));

    y[10] = 760, y[11] = 30, y[12] = 10;
    auto pair = prefit_record(y, {10, 13, 25}, {11, 12});
    prefitpeaks(pair, 1000.0f);
    EXPECT_EQ(peak_row(pair, 0), (std::vector<float>{11, 600, 9.2f, 0.5f}));
    EXPECT_EQ(peak_row(pair, 1), (std::vector<float>{12, 200, 9.2f, 0.5f}));

    // A spline point lying more than the threshold above its height is not
    // background: the peaks on both sides form one group over 10 .. 14.
    y[10] = 700, y[11] = 40, y[12] = 5000, y[13] = 20;
    auto joined = prefit_record(y, {10, 12, 14, 25}, {11, 13});
    prefitpeaks(joined, 1000.0f);
    EXPECT_EQ(peak_row(joined, 0)[1], 3840.0f);
    EXPECT_EQ(peak_row(joined, 1)[1], 1920.0f);

    // A zero height (an infinite width would follow) and a peak after the
    // last spline point keep their values.
    y[11] = 0;
    auto zero = prefit_record(y, {10, 12, 19}, {11, 22});
    prefitpeaks(zero, 1000.0f);
    EXPECT_EQ(peak_row(zero, 0), (std::vector<float>{11, 100, 10, 0}));
    EXPECT_EQ(peak_row(zero, 1), (std::vector<float>{22, 100, 10, 0}));
}

TEST(Prefit, GroupFitStaysInsideItsBounds)
{
    std::vector<float> y(300);
    for (int i = 0; i < 300; ++i) y[i] = pseudo_voigt(i, 160, 20000, 10, 0.5);
    auto rec = prefit_record(y, {0, 299}, {120});
    rec.peaks[1] = 1000, rec.peaks[2] = 2, rec.peaks[3] = 0.5f;
    ASSERT_GE(fitpeakgroup(rec, 0, 299, 0, 0), 0);
    const auto p = peak_row(rec, 0);
    EXPECT_NEAR(p[0], 140.0f, 1e-3f);  // as far toward 160 as allowed
    EXPECT_GE(p[1], 0.0f);
    EXPECT_GE(p[2], 1.0f);
    EXPECT_LE(p[2], 4.0f);
    EXPECT_GE(p[3], 0.0f);
    EXPECT_LE(p[3], 1.0f);
}

TEST(FitMessages, EndMessagesTheIterationLimitAndAZeroedInfo)
{
    Lines out;
    const std::pair<int, float> runs[] = {{250, 3}, {12, 5}, {12, 2}, {-1, 4}, {-1, 5}, {-1, 7}, {-1, 3}};
    for (auto [result, reason] : runs) {
        float info[10] = {};
        info[5] = static_cast<float>(result < 0 ? 12 : result);
        info[6] = reason;
        report_fit_end(result, info);
    }
    // The solver refuses three samples for four parameters before it fills
    // info; the table is written back unchanged.
    auto rec = prefit_record(std::vector<float>(50, 1.0f), {5, 40}, {20});
    EXPECT_EQ(fitpeaks(rec, 18, 20), -1);
    EXPECT_EQ(fitpeaks(rec, 10, 50), -1);
    EXPECT_EQ(peak_row(rec, 0), (std::vector<float>{20, 100, 10, 0}));
    const std::vector<std::string> expected = {
        "ERROR! Fit did not converge after 250 iterations. \n",
        "Fit converged after 12 iterations. \n",
        "Fit converged after 12 iterations. \n",
        "ERROR! Fit aborted after 12 iterations due to singluar matrix. \n",
        "ERROR! Fit aborted after 12, no further error reduction possible. \n",
        "ERROR! Fit aborted after 12 iterations due to invalid function values. \n",
        "ERROR! Fit did not converge after 12 iterations. \n",
        "ERROR! Fit aborted after 0. \n",
        "ERROR in fitpeaks. The fit range must lie inside the profile. \n"};
    EXPECT_EQ(out.lines, expected);
}

TEST(RefitBackground, WithoutPeaksAddsTheSubtractedProfile)
{
    auto rec = prefit_record(std::vector<float>(20, 0.0f), {2.5f, 7}, {});
    rec.spliney[0] = 10, rec.spliney[1] = 20;
    rec.ysub[2] = 1.5f, rec.ysub[7] = -4;
    refitbackground(rec);
    EXPECT_EQ(rec.spliney[0], 11.5f);
    EXPECT_EQ(rec.spliney[1], 16.0f);
}

// The PreFit and PeakFit road on a noise-free profile: four peaks over a
// curved background, positions and background points as a script passes
// them.
TEST(PeakFitSequence, RecoversKnownPeaks)
{
    const float truth[4][4] = {{120.3f, 5000, 4, 0.1f}, {240.6f, 3000, 3.5f, 0.3f}, {360.2f, 4000, 4.5f, 0.2f},
                               {480.8f, 2000, 4, 0.25f}};
    std::vector<float> y(600);
    for (int i = 0; i < 600; ++i) {
        y[i] = 300.0f + 0.2f * i + 1e-4f * (i - 300) * (i - 300);
        for (const auto &t : truth) y[i] += pseudo_voigt(i, t[0], t[1], t[2], t[3]);
    }
    const std::vector<float> sx = {20, 60, 180, 300, 420, 540, 590};
    std::vector<float> sy;
    for (float x : sx) sy.push_back(y[static_cast<size_t>(x)]);
    auto rec = record_of(y);
    set_splines(rec, sx, sy);
    std::vector<float> table;
    for (const auto &t : truth) table.insert(table.end(), {std::round(t[0]), 100, 10, 0});
    set_peaks(rec, table.data(), 4);

    Lines out;
    ASSERT_TRUE(prefit_sequence(rec, "PreFit"));
    ASSERT_TRUE(peakfit_sequence(rec, "PeakFit"));
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(rec.peaks[4 * k], truth[k][0], 0.05f) << k;
        EXPECT_NEAR(rec.peaks[4 * k + 1] / truth[k][1], 1.0f, 0.01f) << k;
        EXPECT_NEAR(rec.peaks[4 * k + 2] / truth[k][2], 1.0f, 0.01f) << k;
    }
    ASSERT_EQ(out.lines.size(), 5u);
    EXPECT_EQ(out.lines[0], "Determining Peak-Fitparameters by prefitting each peak. \n");
    EXPECT_EQ(out.lines[1], "Performing first Fit (of 2). ");
    EXPECT_EQ(out.lines[2].rfind("Fit converged after ", 0), 0u) << out.lines[2];
    EXPECT_EQ(out.lines[3], "Performing second Fit (of 2). ");
    EXPECT_EQ(out.lines[4].rfind("Fit converged after ", 0), 0u) << out.lines[4];
    // The re-estimated spline heights put the background back where it was.
    EXPECT_NEAR(rec.background[300], 360.0f, 1.0f);

    // Refused tables change nothing.
    set_splines(rec, {10}, {0});
    rec.ysub.reset();
    EXPECT_FALSE(peakfit_sequence(rec, "PeakFit"));
    EXPECT_FALSE(rec.ysub);
    EXPECT_EQ(out.lines.back(), "ERROR in PeakFit. At least 2 spline points are needed. \n");
}
