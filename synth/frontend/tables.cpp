#include "frontend/tables.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/files.h"
#include "frontend/controls.h"
#include "frontend/mt19937.h"

int32 freq_table[128];
int32 freq_table_tuning[128][128];
int32 freq_table_pytha[24][128];
int32 freq_table_meantone[48][128];
int32 freq_table_pureint[48][128];
int32 freq_table_user[4][48][128];
double bend_fine[256];
double bend_coarse[128];
double triangular_table[257];
double gm2_pan_table[129];
double attack_vol_table[1024];
double sb_vol_table[1024];
double modenv_vol_table[1024];
double def_vol_table[1024];
double gs_vol_table[1024];
double perceived_vol_table[128];
double gm2_vol_table[128];
double user_vol_table[128];
SpecialPatch* special_patch[256];

// sin(i * pi / 512) for i = 0..256.
const double sine_table[257] = {
    0.0, 0.0061358846491544753, 0.012271538285719925, 0.01840672990580482,
    0.024541228522912288, 0.030674803176636626, 0.036807222941358832, 0.04293825693494082,
    0.049067674327418015, 0.055195244349689934, 0.061320736302208578, 0.067443919563664051,
    0.073564563599667426, 0.079682437971430126, 0.085797312344439894, 0.091908956497132724,
    0.098017140329560604, 0.10412163387205459, 0.11022220729388306, 0.11631863091190475,
    0.1224106751992162, 0.12849811079379317, 0.13458070850712617, 0.14065823933284921,
    0.14673047445536175, 0.15279718525844344, 0.15885814333386145, 0.16491312048996992,
    0.17096188876030122, 0.17700422041214875, 0.18303988795514095, 0.18906866414980619,
    0.19509032201612825, 0.2011046348420919, 0.20711137619221856, 0.21311031991609136,
    0.2191012401568698, 0.22508391135979283, 0.23105810828067111, 0.2370236059943672,
    0.24298017990326387, 0.24892760574572015, 0.25486565960451457, 0.26079411791527551,
    0.26671275747489837, 0.27262135544994898, 0.27851968938505306, 0.28440753721127188,
    0.29028467725446233, 0.29615088824362379, 0.30200594931922808, 0.30784964004153487,
    0.31368174039889152, 0.31950203081601569, 0.32531029216226293, 0.33110630575987643,
    0.33688985339222005, 0.34266071731199438, 0.34841868024943456, 0.35416352542049034,
    0.35989503653498811, 0.36561299780477385, 0.37131719395183754, 0.37700741021641826,
    0.38268343236508978, 0.38834504669882625, 0.3939920400610481, 0.39962419984564679,
    0.40524131400498986, 0.41084317105790391, 0.41642956009763715, 0.42200027079979968,
    0.42755509343028208, 0.43309381885315196, 0.43861623853852766, 0.4441221445704292,
    0.44961132965460654, 0.45508358712634384, 0.46053871095824001, 0.46597649576796618,
    0.47139673682599764, 0.47679923006332209, 0.48218377207912272, 0.487550160148436,
    0.49289819222978404, 0.49822766697278187, 0.50353838372571758, 0.50883014254310699,
    0.51410274419322166, 0.51935599016558964, 0.52458968267846895, 0.52980362468629461,
    0.53499761988709715, 0.54017147272989285, 0.54532498842204646, 0.55045797293660481,
    0.55557023301960218, 0.56066157619733603, 0.56573181078361312, 0.57078074588696726,
    0.57580819141784534, 0.58081395809576453, 0.58579785745643886, 0.59075970185887416,
    0.59569930449243336, 0.60061647938386897, 0.60551104140432555, 0.61038280627630948,
    0.61523159058062682, 0.6200572117632891, 0.62485948814238634, 0.62963823891492698,
    0.63439328416364549, 0.63912444486377573, 0.64383154288979139, 0.64851440102211244,
    0.65317284295377676, 0.65780669329707864, 0.66241577759017178, 0.66699992230363747,
    0.67155895484701833, 0.67609270357531592, 0.68060099779545302, 0.68508366777270036,
    0.68954054473706683, 0.693971460889654, 0.69837624940897292, 0.7027547444572253,
    0.70710678118654746, 0.71143219574521643, 0.71573082528381859, 0.72000250796138165,
    0.72424708295146689, 0.7284643904482252, 0.73265427167241282, 0.73681656887736979,
    0.74095112535495911, 0.74505778544146595, 0.74913639452345926, 0.75318679904361241,
    0.75720884650648446, 0.76120238548426178, 0.76516726562245896, 0.76910333764557959,
    0.77301045336273699, 0.77688846567323244, 0.78073722857209438, 0.78455659715557524,
    0.78834642762660623, 0.79210657730021239, 0.79583690460888346, 0.79953726910790501,
    0.80320753148064483, 0.80684755354379922, 0.81045719825259477, 0.8140363297059483,
    0.81758481315158371, 0.82110251499110465, 0.82458930278502529, 0.8280450452577558,
    0.83146961230254524, 0.83486287498638001, 0.83822470555483797, 0.84155497743689833,
    0.84485356524970701, 0.84812034480329712, 0.8513551931052652, 0.85455798836540053,
    0.85772861000027212, 0.86086693863776731, 0.8639728561215867, 0.86704624551569265,
    0.87008699110871135, 0.87309497841829009, 0.8760700941954066, 0.87901222642863341,
    0.88192126434835494, 0.88479709843093779, 0.88763962040285393, 0.89044872324475788,
    0.89322430119551532, 0.89596624975618511, 0.89867446569395382, 0.90134884704602203,
    0.90398929312344334, 0.90659570451491533, 0.90916798309052227, 0.91170603200542988,
    0.91420975570353069, 0.9166790599210427, 0.91911385169005777, 0.9215140393420419,
    0.92387953251128674, 0.92621024213831127, 0.92850608047321548, 0.93076696107898371,
    0.93299279883473885, 0.9351835099389475, 0.93733901191257496, 0.93945922360218992,
    0.94154406518302081, 0.94359345816196039, 0.94560732538052128, 0.94758559101774109,
    0.94952818059303667, 0.95143502096900834, 0.95330604035419375, 0.95514116830577067,
    0.95694033573220894, 0.9587034748958716, 0.96043051941556579, 0.96212140426904158,
    0.96377606579543984, 0.9653944416976894, 0.96697647104485207, 0.96852209427441727,
    0.97003125319454397, 0.97150389098625178, 0.97293995220556007, 0.97433938278557586,
    0.97570213003852857, 0.97702814265775439, 0.97831737071962765, 0.97956976568544052,
    0.98078528040323043, 0.98196386910955524, 0.98310548743121629, 0.98421009238692903,
    0.98527764238894122, 0.98630809724459867, 0.98730141815785843, 0.98825756773074946,
    0.98917650996478101, 0.99005821026229712, 0.99090263542778001, 0.99170975366909953,
    0.99247953459870997, 0.9932119492347945, 0.99390697000235606, 0.99456457073425542,
    0.99518472667219682, 0.99576741446765982, 0.996312612182778, 0.99682029929116567,
    0.99729045667869021, 0.99772306664419164, 0.99811811290014918, 0.99847558057329477,
    0.99879545620517241, 0.99907772775264536, 0.99932238458834954, 0.99952941750109314,
    0.99969881869620425, 0.9998305817958234, 0.9999247018391445, 0.99998117528260111,
    1.0,
};

static int32 round_freq(long double f)
{
    return (int32)(f + 0.5L);
}

void init_freq_table(void)
{
    for (int i = 0; i < 128; i++)
        freq_table[i] = round_freq(440.0L * powl(2.0L, (i - 69) / 12.0L) * 1000.0L);
}

// Every tuning program starts equal-tempered: one row worked out, copied to all 128 (the
// players reset it at every song's start).
void init_freq_table_tuning(void)
{
    int32 row[128];
    for (int i = 0; i < 128; i++)
        row[i] = round_freq(440.0L * powl(2.0L, (i - 69) / 12.0L) * 1000.0L);
    for (int p = 0; p < 128; p++)
        memcpy(freq_table_tuning[p], row, sizeof row);
}

// Fills one row: for each octave block of key k, every note gets its tonic times the ratio of
// its step, times factor.
static void fill_temperament_row(int32* row, int k, const long double ratio[12], long double factor)
{
    for (int j = -1; j < 11; j++) {
        long double tonic = 440.0L * powl(2.0L, (k - 9) / 12.0L + j - 5);
        for (int s = 0; s < 12; s++) {
            int n = k + j * 12 + s;
            if (n < 0 || n > 127)
                continue;
            row[n] = round_freq(tonic * ratio[s] * factor * 1000.0L);
        }
    }
}

void init_freq_table_pytha(void)
{
    static const long double major[12] = {
        1.0L, 256.0L / 243, 9.0L / 8, 32.0L / 27, 81.0L / 64, 4.0L / 3,
        729.0L / 512, 3.0L / 2, 128.0L / 81, 27.0L / 16, 16.0L / 9, 243.0L / 128};
    static const long double minor[12] = {
        1.0L, 2187.0L / 2048, 9.0L / 8, 19683.0L / 16384, 81.0L / 64, 4.0L / 3,
        729.0L / 512, 3.0L / 2, 6561.0L / 4096, 27.0L / 16, 16.0L / 9, 243.0L / 128};
    for (int k = 0; k < 12; k++) {
        fill_temperament_row(freq_table_pytha[k], k, major, 1.0L);
        fill_temperament_row(freq_table_pytha[k + 12], k, minor, 1.0L);
    }
}

// Rows k: major; k + 12: minor raised by the syntonic comma; k + 24: minor; k + 36: major
// raised by the comma.
static void fill_four_row_sets(int32 (*table)[128], const long double major[12],
                               const long double minor[12])
{
    const long double comma = 81.0L / 80;
    for (int k = 0; k < 12; k++) {
        fill_temperament_row(table[k], k, major, 1.0L);
        fill_temperament_row(table[k + 12], k, minor, comma);
        fill_temperament_row(table[k + 24], k, minor, 1.0L);
        fill_temperament_row(table[k + 36], k, major, comma);
    }
}

void init_freq_table_meantone(void)
{
    long double major[12], minor[12];
    const long double b = 10.0L / 3;
    major[0] = 1;
    major[1] = 8 / powl(5, 5.0L / 4);
    major[2] = powl(5, 0.5L) / 2;
    major[3] = 4 / powl(5, 0.75L);
    major[4] = 5.0L / 4;
    major[5] = 2 / powl(5, 0.25L);
    major[6] = powl(5, 1.5L) / 8;
    major[7] = powl(5, 0.25L);
    major[8] = 8.0L / 5;
    major[9] = powl(5, 0.75L) / 2;
    major[10] = 4 / powl(5, 0.5L);
    major[11] = powl(5, 5.0L / 4) / 4;
    minor[0] = 1;
    minor[1] = powl(b, 7.0L / 3) / 16;
    minor[2] = powl(b, 2.0L / 3) / 2;
    minor[3] = 125.0L / 108;
    minor[4] = powl(b, 4.0L / 3) / 4;
    minor[5] = 2 / powl(b, 1.0L / 3);
    minor[6] = 25.0L / 18;
    minor[7] = powl(b, 1.0L / 3);
    minor[8] = powl(b, 8.0L / 3) / 16;
    minor[9] = 5.0L / 3;
    minor[10] = 4 / powl(b, 2.0L / 3);
    minor[11] = powl(b, 5.0L / 3) / 4;
    fill_four_row_sets(freq_table_meantone, major, minor);
}

void init_freq_table_pureint(void)
{
    static const long double major[12] = {
        1.0L, 16.0L / 15, 9.0L / 8, 6.0L / 5, 5.0L / 4, 4.0L / 3,
        45.0L / 32, 3.0L / 2, 8.0L / 5, 5.0L / 3, 9.0L / 5, 15.0L / 8};
    static const long double minor[12] = {
        1.0L, 25.0L / 24, 10.0L / 9, 75.0L / 64, 5.0L / 4, 4.0L / 3,
        25.0L / 18, 3.0L / 2, 25.0L / 16, 5.0L / 3, 16.0L / 9, 15.0L / 8};
    fill_four_row_sets(freq_table_pureint, major, minor);
}

void init_freq_table_user(void)
{
    static const long double unison[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int u = 0; u < 4; u++)
        for (int r = 0; r < 48; r++)
            fill_temperament_row(freq_table_user[u][r], r % 12, unison, 1.0L);
}

void init_bend_fine(void)
{
    for (int i = 0; i < 256; i++)
        bend_fine[i] = pow(2.0, i / 12.0 / 256.0);
}

void init_bend_coarse(void)
{
    for (int i = 0; i < 128; i++)
        bend_coarse[i] = pow(2.0, i / 12.0);
}

void init_triangular_table(void)
{
    static const uint32 init[4] = {0x123, 0x234, 0x345, 0x456};
    init_by_array(init, 4);
    for (int i = 0; i < 257; i++)
        triangular_table[i] = (double)i / 256.0;
}

void init_gm2_pan_table(void)
{
    gm2_pan_table[0] = 0;
    for (int i = 0; i < 127; i++)
        gm2_pan_table[i + 1] = sin((double)i * M_PI / 2.0 / 126.0) * 128.0;
    gm2_pan_table[128] = 128.0;
}

void init_attack_vol_table(void)
{
    for (int i = 0; i < 1024; i++)
        attack_vol_table[i] = (double)i / 1023.0;
}

void init_sb_vol_table(void)
{
    for (int i = 0; i < 1024; i++)
        sb_vol_table[i] = pow(10.0, (double)(1023 - i) * -960.0 / (1023.0 * 200.0));
}

void init_modenv_vol_table(void)
{
    modenv_vol_table[0] = 0;
    for (int i = 1; i < 1023; i++) {
        double x = 1.0 + (5.0 / 24.0) * log10((double)(i * i) / (1023.0 * 1023.0));
        if (x < 0)
            x = 0;
        modenv_vol_table[i] = log(x + 1.0) / log(2.0);
    }
    modenv_vol_table[1023] = 1.0;
}

void init_def_vol_table(void)
{
    for (int i = 0; i < 1024; i++)
        def_vol_table[i] = pow(2.0, 6.0 * ((double)i / 1023.0 - 1.0));
}

void init_gs_vol_table(void)
{
    for (int i = 0; i < 1024; i++)
        gs_vol_table[i] = pow(2.0, 8.0 * ((double)i / 1023.0 - 1.0));
}

void init_perceived_vol_table(void)
{
    for (int i = 0; i < 128; i++)
        perceived_vol_table[i] = 127.0 * pow((double)i / 127.0, 1.66096404744);
}

void init_gm2_vol_table(void)
{
    for (int i = 0; i < 128; i++)
        gm2_vol_table[i] = (double)(i * i) / 127.0;
}

void init_user_vol_table(double power)
{
    for (int i = 0; i < 128; i++)
        user_vol_table[i] = 127.0 * pow((double)i / 127.0, power);
}

void init_start_tables(void)
{
    init_freq_table();
    init_freq_table_tuning();
    init_freq_table_pytha();
    init_freq_table_meantone();
    init_freq_table_pureint();
    init_freq_table_user();
    init_bend_fine();
    init_bend_coarse();
    init_triangular_table();
    init_gm2_pan_table();
    init_attack_vol_table();
    init_sb_vol_table();
    init_modenv_vol_table();
    init_def_vol_table();
    init_gs_vol_table();
    init_perceived_vol_table();
    init_gm2_vol_table();
    memset(special_patch, 0, sizeof(special_patch));
}

static double lookup_quarter(const double* table, int x)
{
    int xx = x & 0xff;
    switch ((x >> 8) & 3) {
    default:
    case 0: return table[xx];
    case 1: return table[0x100 - xx];
    case 2: return -table[xx];
    case 3: return -table[0x100 - xx];
    }
}

double lookup_sine(int x)
{
    return lookup_quarter(sine_table, x);
}

double lookup_triangular(int x)
{
    return lookup_quarter(triangular_table, x);
}

int int_rand(int n)
{
    if (n < 0) {
        if (n == -1)
            srand((unsigned)time(nullptr));
        else
            srand((unsigned)-n);
        return n;
    }
    // The C library's generator may reach RAND_MAX well above 32767: scale by its real range
    // so that the result stays below n.
    return (int)(n * ((double)rand() / ((double)RAND_MAX + 1.0)));
}

int load_table(const char* file)
{
    InputFile* tf = open_file(file, 1, OF_NORMAL);
    if (tf == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't read frequency table %s", file);
        return -1;
    }
    int32 values[128];
    int count = 0, bad = 0;
    char line[1024];
    while (!bad && tf_gets(line, sizeof(line), tf) != nullptr) {
        char* comment = strchr(line, '#');
        if (comment != nullptr)
            *comment = '\0';
        char* save = nullptr;
        for (char* p = strtok_r(line, " \t\r\n,", &save); p != nullptr;
             p = strtok_r(nullptr, " \t\r\n,", &save)) {
            char* end;
            long v = strtol(p, &end, 10);
            if (*end != '\0' || v <= 0 || v > 0x7fffffffL || count >= 128) {
                bad = 1;
                break;
            }
            values[count++] = (int32)v;
        }
    }
    close_file(tf);
    if (bad || count != 128) {
        cmsg(CMSG_ERROR, VERB_NORMAL,
             "%s: a frequency table is 128 positive whole numbers (thousandths of a hertz)", file);
        return -1;
    }
    memcpy(freq_table, values, sizeof(freq_table));
    return 0;
}
