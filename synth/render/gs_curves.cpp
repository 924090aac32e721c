// The GS curves are known at a few measured points; between them they are filled so that
// each curve keeps its shape: level and pan curves by a monotone cubic through the points,
// envelope-time multipliers by constant ratios per step that continue the measured steps
// next to the neutral value 64 until the curve's end value is reached.
#include "render/gs_curves.h"

#include <cmath>

double sc_vel_table[128];
double sc_vol_table[128];
double sc_pan_table[129];
double sc_drum_level_table[128];
float sc_eg_attack_table[128];
float sc_eg_decay_table[128];
float sc_eg_release_table[128];
float chamberlin_filter_db_to_q_table[97];

namespace {

struct Point {
    double x, y;
};

// Fills out[0..x of the last point] with a monotone cubic (Fritsch-Carlson) through pts.
template <int N>
void monotone_curve(const Point (&pts)[N], double* out)
{
    double d[N - 1], m[N];
    for (int i = 0; i < N - 1; i++)
        d[i] = (pts[i + 1].y - pts[i].y) / (pts[i + 1].x - pts[i].x);
    m[0] = d[0];
    m[N - 1] = d[N - 2];
    for (int i = 1; i < N - 1; i++)
        m[i] = d[i - 1] * d[i] <= 0 ? 0 : (d[i - 1] + d[i]) / 2;
    for (int i = 0; i < N - 1; i++) {
        if (d[i] == 0) {
            m[i] = m[i + 1] = 0;
            continue;
        }
        double a = m[i] / d[i], b = m[i + 1] / d[i], s = a * a + b * b;
        if (s > 9) {
            double t = 3 / std::sqrt(s);
            m[i] = t * a * d[i];
            m[i + 1] = t * b * d[i];
        }
    }
    for (int i = 0; i < N - 1; i++) {
        double h = pts[i + 1].x - pts[i].x;
        for (int x = (int)pts[i].x; x <= (int)pts[i + 1].x; x++) {
            double t = (x - pts[i].x) / h, t2 = t * t, t3 = t2 * t;
            out[x] = (2 * t3 - 3 * t2 + 1) * pts[i].y + (t3 - 2 * t2 + t) * h * m[i] +
                     (-2 * t3 + 3 * t2) * pts[i + 1].y + (t3 - t2) * h * m[i + 1];
        }
    }
}

// 1.0 at 64, the measured values at 62, 63, 65 and 66, then the ratio of the outer measured
// step repeated outwards until the end value (at 0, respectively 127) is reached.
void time_curve(float* out, double v62, double v63, double v65, double v66, double v0,
                double v127)
{
    out[64] = 1.0f;
    double below[] = {v63, v62}, above[] = {v65, v66};
    double step_down = v62 / v63, step_up = v66 / v65;
    double v = 1.0;
    for (int k = 1; k <= 64; k++) {
        v = k <= 2 ? below[k - 1] : std::fmin(v * step_down, v0);
        out[64 - k] = (float)v;
    }
    v = 1.0;
    for (int k = 1; k <= 63; k++) {
        v = k <= 2 ? above[k - 1] : std::fmax(v * step_up, v127);
        out[64 + k] = (float)v;
    }
}

bool build_curves()
{
    static const Point vel[] = {{0, 0},         {1, 0.801328},   {16, 5.233303}, {32, 12.746124},
                                {64, 37.99071}, {100, 82.622687}, {127, 127.0}};
    static const Point vol[] = {{0, 0},          {1, 0.128905},   {16, 2.071501}, {32, 8.143714},
                                {64, 32.373791}, {100, 78.880337}, {127, 127.0}};
    static const Point pan[] = {{0, 0},          {1, 0},           {32, 35.696373}, {64, 76.661468},
                                {96, 111.396655}, {127, 128.0},    {128, 128.0}};
    monotone_curve(vel, sc_vel_table);
    monotone_curve(vol, sc_vol_table);
    monotone_curve(pan, sc_pan_table);
    for (int i = 1; i < 128; i++)
        sc_drum_level_table[i] = i * i / 127.0;
    sc_drum_level_table[0] = sc_drum_level_table[1];

    time_curve(sc_eg_attack_table, 1.32656, 1.163993, 0.859112, 0.75383, 82.756927, 0.012084);
    time_curve(sc_eg_decay_table, 1.369978, 1.189386, 0.838459, 0.726301, 81.841217, 0.011394);
    time_curve(sc_eg_release_table, 1.166311, 1.079959, 0.925961, 0.857404, 27.322002, 0.036601);

    for (int i = 0; i < 97; i++)
        chamberlin_filter_db_to_q_table[i] =
            i <= 20 ? 1.0f : (float)(1.02921 * std::pow(1.0820961, i - 21));
    return true;
}

const bool curves_built = build_curves();

}  // namespace
