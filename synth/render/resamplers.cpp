// The six interpolators that give a sample's value between its stored points. Products are
// formed in 64 bits so that full-scale data cannot overflow the integer formulas.
#include "render/cpu_features.h"
#include "render/resample.h"
#include "render/resample_settings.h"


// Newton forward-difference weights: row i, column j is (-1)^(i-j) C(i, j) / i! for j <= i.
#define NEWT_ROWS 58
static double newt_coeffs[NEWT_ROWS][NEWT_ROWS];
static double newt_recip[60];
static double newt_divd[60][60];
static const sample_t* newt_old_src = nullptr;
static int newt_old_trunc_x = -1;
static int newt_grow = -1;

static bool build_newton_tables(void)
{
    for (int i = 0; i < NEWT_ROWS; i++) {
        double fact = 1.0;
        for (int k = 2; k <= i; k++)
            fact *= k;
        double binom = 1.0;  // C(i, j)
        for (int j = 0; j <= i; j++) {
            newt_coeffs[i][j] = ((((i - j) & 1) ? -binom : binom) / fact);
            binom = binom * (i - j) / (j + 1);
        }
    }
    newt_recip[0] = 0.0;
    for (int i = 1; i < 60; i++)
        newt_recip[i] = 1.0 / i;
    return true;
}
static const bool newton_tables_built = build_newton_tables();

resample_t resample_none(const sample_t* src, splen_t ofs, const resample_rec_t*)
{
    return src[ofs >> FRACTION_BITS];
}

resample_t resample_linear(const sample_t* src, splen_t ofs, const resample_rec_t*)
{
    const int32 i = (int32)(ofs >> FRACTION_BITS), f = (int32)(ofs & FRACTION_MASK);
    const int32 b = src[i], c = src[i + 1];
    return b + (((c - b) * f) >> FRACTION_BITS);
}

// Whether the four points around ofs lie inside the loop record (else the 4-point
// interpolators fall back to linear).
static inline bool four_points_inside(splen_t ofs, const resample_rec_t* rec)
{
    return (uint64)rec->loop_start + 0x1000 <= ofs && (uint64)ofs + 0x2000 <= rec->loop_end;
}

resample_t resample_cspline(const sample_t* src, splen_t ofs, const resample_rec_t* rec)
{
    if (!four_points_inside(ofs, rec))
        return resample_linear(src, ofs, rec);
    const int64 i = ofs >> FRACTION_BITS, f = ofs & FRACTION_MASK;
    const int64 a0 = src[i - 1], b0 = src[i], c0 = src[i + 1], d0 = src[i + 2];
    int64 a = ((((7 * c0 + 5 * a0 - 11 * b0 - d0) >> 2) * f) >> 12) * (f - 0x2000) >> 12;
    a = (a + 6 * b0) * (0x1000 - f);
    int64 b = ((((5 * d0 - 11 * c0 + 7 * b0 - a0) >> 2) * (f + 0x1000)) >> 12) * (f - 0x1000) >> 12;
    b = (b + 6 * c0) * f;
    return (resample_t)((a + b) / 0x6000);
}

resample_t resample_lagrange(const sample_t* src, splen_t ofs, const resample_rec_t* rec)
{
    if (!four_points_inside(ofs, rec))
        return resample_linear(src, ofs, rec);
    const int64 i = ofs >> FRACTION_BITS, f = ofs & FRACTION_MASK;
    const int64 a = src[i - 1], b = src[i], c = src[i + 1], d = src[i + 2];
    const int64 t = (((f - 0x1000) / 6) * (d - a + 3 * b - 3 * c)) >> 12;
    const int64 u = ((f >> 1) * (t + c - 2 * b + a)) >> 12;
    return (resample_t)((((u + b - a) * (f + 0x1000)) >> 12) + a);
}

// Near the ends of the data: the Newton forward polynomial of degree m through the m + 1
// points starting m / 2 points before i.
static resample_t newton_near_end(const sample_t* src, int64 i, int32 f, int m)
{
    const sample_t* p = src + i - (m >> 1);
    const double x = f / 4096.0 + (m >> 1);
    double y = 0.0;
    for (int k = m; k > 0; k--) {
        double diff = 0.0;
        for (int j = 0; j <= k; j++)
            diff += p[j] * newt_coeffs[k][j];
        y += diff;
        y *= x - (k - 1);
    }
    y += p[0];
    return (resample_t)y;
}

// Order of the window that fits around point i of a sample of `frames` points.
static inline int64 window_fit(int64 i, int64 frames)
{
    const int64 left = i, right = frames - i - 1;
    return 2 * right - 1 < 2 * left + 1 ? 2 * right - 1 : 2 * left + 1;
}

resample_t resample_gauss(const sample_t* src, splen_t ofs, const resample_rec_t* rec)
{
    if (gauss_table_n != gauss_n)
        initialize_gauss_table(gauss_n);
    const int64 i = ofs >> FRACTION_BITS;
    const int32 f = (int32)(ofs & FRACTION_MASK);
    int64 m = window_fit(i, rec->data_length >> FRACTION_BITS);
    if (m < gauss_n) {
        if (m < 1)
            m = 1;
        return newton_near_end(src, i, f, (int)m);
    }
    const sample_t* p = src + i - (gauss_n >> 1);
    const float* w = gauss_table[f];
    float y = 0.0f;
    if (gauss_n == 25) {
        for (int k = 0; k <= 25; k++)
            y += p[k] * w[k];
    } else {
        for (int k = 0; k <= gauss_n; k++)
            y += p[k] * w[k];
    }
    return (resample_t)y;
}

void resample_gauss_run_scalar(const sample_t* src, int64 ofs, int32 incr, int32 n,
                               resample_t* out, const resample_rec_t* rec)
{
    for (int32 k = 0; k < n; k++, ofs += incr)
        out[k] = resample_gauss(src, (splen_t)ofs, rec);
}

bool resample_kernels_vector(void)
{
    return cpu_has.sse2;
}

void resample_gauss_run(const sample_t* src, int64 ofs, int32 incr, int32 n, resample_t* out,
                        const resample_rec_t* rec)
{
    if (gauss_table_n != gauss_n)
        initialize_gauss_table(gauss_n);
    if (resample_kernels_vector())
        resample_gauss_run_sse2(src, ofs, incr, n, out, rec);
    else
        resample_gauss_run_scalar(src, ofs, incr, n, out, rec);
}

resample_t resample_newton(const sample_t* src, splen_t ofs, const resample_rec_t* rec)
{
    const int64 frames = rec->data_length >> FRACTION_BITS;
    const int64 i = ofs >> FRACTION_BITS;
    const int32 f = (int32)(ofs & FRACTION_MASK);
    int64 m = 2 * (frames - i - 1) - 1;
    if (m < 1)
        m = 1;
    if (m > 2 * i + 1)
        m = 2 * i + 1;
    if (m < newt_n)
        return newton_near_end(src, i, f, (int)m);

    const int h = newt_n >> 1;
    const int64 d = i - newt_old_trunc_x;
    bool rebuild = newt_grow < 0 || src != newt_old_src || d < 0;
    if (!rebuild && d > 0) {
        const int n2 = newt_n + 2 * (newt_grow + (int)(d < 64 ? d : 64));
        // The grown window reaches n2 / 2 + 1 points past i; it must stay inside the data.
        if (d >= 64 || n2 > newt_max || i + (n2 >> 1) + 1 >= frames) {
            rebuild = true;
        } else {
            const int b = newt_n + 2 * newt_grow;
            for (int k = n2; k > b; k--)
                newt_divd[0][k] = src[i + (n2 >> 1) + 1 - (n2 - k)];
            for (int j = 1; j <= n2; j++)
                for (int k = n2; k > b; k--)
                    newt_divd[j][k] = (newt_divd[j - 1][k] - newt_divd[j - 1][k - 1]) * newt_recip[j];
            newt_grow += (int)d;
        }
    }
    if (rebuild) {
        newt_grow = 0;
        for (int k = 0; k <= newt_n; k++)
            newt_divd[0][k] = src[i - h + k];
        for (int j = 1; j <= newt_n; j++)
            for (int k = newt_n; k >= j; k--)
                newt_divd[j][k] = (newt_divd[j - 1][k] - newt_divd[j - 1][k - 1]) * newt_recip[j];
    }
    const int n = newt_n + 2 * newt_grow;
    const double x = newt_grow + f / 4096.0 + h;
    double y = newt_divd[n][n];
    for (int k = n - 1; k > 0; k--)
        y = (x - k) * y + newt_divd[k][k];
    y = y * x + newt_divd[0][0];
    newt_old_src = src;
    newt_old_trunc_x = (int)i;
    return (resample_t)y;
}

resample_t do_resamplation(const sample_t* src, splen_t ofs, const resample_rec_t* rec)
{
    return cur_resample(src, ofs, rec);
}
