// The Gauss resampler's coefficients: for each of the 4096 fractional positions between two
// samples, the weight of each of the n + 1 taps around it.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "frontend/memory.h"
#include "render/resample.h"
#include "render/resample_settings.h"

float* gauss_table[1 << FRACTION_BITS];
int gauss_table_n = -1;
static float* gauss_table_data = nullptr;

void initialize_gauss_table(int n)
{
    if (n < 1)
        n = 1;
    const int positions = 1 << FRACTION_BITS;
    const double four_pi = 4.0 * M_PI;
    std::vector<double> z((size_t)n + 1), w((size_t)n + 1), sines(2 * (size_t)n + 1);
    for (int k = 0; k <= n; k++)
        z[(size_t)k] = k / four_pi;
    for (int k = -n; k <= n; k++)
        sines[(size_t)(k + n)] = std::sin(k / four_pi);

    free(gauss_table_data);
    gauss_table_data = (float*)safe_large_malloc(sizeof(float) * (size_t)(n + 1) * positions);
    float* p = gauss_table_data;
    for (int m = 0; m < positions; m++) {
        double xz = ((double)m / positions + (n >> 1)) / four_pi;
        for (int k = 0; k <= n; k++)
            w[(size_t)k] = std::sin(xz - z[(size_t)k]);
        gauss_table[m] = p;
        for (int k = 0; k <= n; k++) {
            double c = 1.0;
            for (int j = 0; j <= n; j++)
                if (j != k)
                    c *= w[(size_t)j] / sines[(size_t)(k - j + n)];
            *p++ = (float)c;
        }
    }
    gauss_table_n = n;
}

void initialize_resampler_coeffs(void)
{
    initialize_gauss_table(gauss_n);
}
