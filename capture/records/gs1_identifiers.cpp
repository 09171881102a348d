#include "capture/records/gs1_identifiers.h"

#include <algorithm>
#include <array>

namespace lintrel::records {
namespace {

constexpr uint8_t kAll = Gs1Identifier::kAllDigits;

// An AI (or range) with `min`..`max` characters of data, the first `digits` of them digits.
constexpr Gs1Identifier Ai(std::string_view first, std::string_view last, uint8_t min, uint8_t max, uint8_t digits,
                           std::string_view title) {
  return {first, last, min, max, digits, 0, 0, Gs1Date::kNone, Gs1Time::kNone, false, title};
}
// Fixed-length digits.
constexpr Gs1Identifier Digits(std::string_view ai, uint8_t length, std::string_view title) {
  return Ai(ai, ai, length, length, kAll, title);
}
// Up to `max` characters of GS1's character set 82 (or 39, or base64url), at least one.
constexpr Gs1Identifier Text(std::string_view ai, uint8_t max, std::string_view title) {
  return Ai(ai, ai, 1, max, 0, title);
}
constexpr Gs1Identifier Predefined(Gs1Identifier id) {
  id.predefined_length = true;
  return id;
}
// A GS1 modulo-10 check digit ends the `length` digits from `offset`.
constexpr Gs1Identifier Checked(Gs1Identifier id, uint8_t offset, uint8_t length) {
  id.check_offset = offset;
  id.check_length = length;
  return id;
}
constexpr Gs1Identifier Dated(Gs1Identifier id, Gs1Date date, Gs1Time time = Gs1Time::kNone) {
  id.date = date;
  id.time = time;
  return id;
}
// The measures 3100..3695: six digits, the AI's last digit the number of decimals.
constexpr Gs1Identifier Measure(std::string_view first, std::string_view last, std::string_view title) {
  return Predefined(Ai(first, last, 6, 6, kAll, title));
}

// The Application Identifiers of the GS1 General Specifications, Release 25.0 (January
// 2025), section 3.2 (Figure 3.2-1: format, and whether a separator must follow) with the
// predefined lengths of Figure 7.8.5-2, the check digits of the GS1 keys (section 7.9) and
// the date fields (section 7.12); and the AIs GS1 added after that release (716, 717, 7041,
// 8040 to 8043), as its Barcode Syntax Dictionary of 2025 lists them. Data titles are
// GS1's. Lengths are those of the data after the AI.
constexpr std::array kIdentifiers = {
    Checked(Predefined(Digits("00", 18, "SSCC")), 0, 18),
    Checked(Predefined(Digits("01", 14, "GTIN")), 0, 14),
    Checked(Predefined(Digits("02", 14, "CONTENT")), 0, 14),
    Checked(Predefined(Digits("03", 14, "MTO GTIN")), 0, 14),
    Text("10", 20, "BATCH/LOT"),
    Dated(Predefined(Digits("11", 6, "PROD DATE")), Gs1Date::kYymmd0),
    Dated(Predefined(Digits("12", 6, "DUE DATE")), Gs1Date::kYymmd0),
    Dated(Predefined(Digits("13", 6, "PACK DATE")), Gs1Date::kYymmd0),
    Dated(Predefined(Digits("15", 6, "BEST BEFORE or BEST BY")), Gs1Date::kYymmd0),
    Dated(Predefined(Digits("16", 6, "SELL BY")), Gs1Date::kYymmd0),
    Dated(Predefined(Digits("17", 6, "USE BY or EXPIRY")), Gs1Date::kYymmd0),
    Predefined(Digits("20", 2, "VARIANT")),
    Text("21", 20, "SERIAL"),
    Text("22", 20, "CPV"),
    Text("235", 28, "TPX"),
    Text("240", 30, "ADDITIONAL ID"),
    Text("241", 30, "CUST. PART No."),
    Ai("242", "242", 1, 6, kAll, "MTO VARIANT"),
    Text("243", 20, "PCN"),
    Text("250", 30, "SECONDARY SERIAL"),
    Text("251", 30, "REF. TO SOURCE"),
    Checked(Ai("253", "253", 13, 30, 13, "GDTI"), 0, 13),
    Text("254", 20, "GLN EXTENSION COMPONENT"),
    Checked(Ai("255", "255", 13, 25, kAll, "GCN"), 0, 13),
    Ai("30", "30", 1, 8, kAll, "VAR. COUNT"),
    Measure("3100", "3105", "NET WEIGHT (kg)"),
    Measure("3110", "3115", "LENGTH (m)"),
    Measure("3120", "3125", "WIDTH (m)"),
    Measure("3130", "3135", "HEIGHT (m)"),
    Measure("3140", "3145", "AREA (m²)"),
    Measure("3150", "3155", "NET VOLUME (l)"),
    Measure("3160", "3165", "NET VOLUME (m³)"),
    Measure("3200", "3205", "NET WEIGHT (lb)"),
    Measure("3210", "3215", "LENGTH (in)"),
    Measure("3220", "3225", "LENGTH (ft)"),
    Measure("3230", "3235", "LENGTH (yd)"),
    Measure("3240", "3245", "WIDTH (in)"),
    Measure("3250", "3255", "WIDTH (ft)"),
    Measure("3260", "3265", "WIDTH (yd)"),
    Measure("3270", "3275", "HEIGHT (in)"),
    Measure("3280", "3285", "HEIGHT (ft)"),
    Measure("3290", "3295", "HEIGHT (yd)"),
    Measure("3300", "3305", "GROSS WEIGHT (kg)"),
    Measure("3310", "3315", "LENGTH (m), log"),
    Measure("3320", "3325", "WIDTH (m), log"),
    Measure("3330", "3335", "HEIGHT (m), log"),
    Measure("3340", "3345", "AREA (m²), log"),
    Measure("3350", "3355", "VOLUME (l), log"),
    Measure("3360", "3365", "VOLUME (m³), log"),
    Measure("3370", "3375", "KG PER m²"),
    Measure("3400", "3405", "GROSS WEIGHT (lb)"),
    Measure("3410", "3415", "LENGTH (in), log"),
    Measure("3420", "3425", "LENGTH (ft), log"),
    Measure("3430", "3435", "LENGTH (yd), log"),
    Measure("3440", "3445", "WIDTH (in), log"),
    Measure("3450", "3455", "WIDTH (ft), log"),
    Measure("3460", "3465", "WIDTH (yd), log"),
    Measure("3470", "3475", "HEIGHT (in), log"),
    Measure("3480", "3485", "HEIGHT (ft), log"),
    Measure("3490", "3495", "HEIGHT (yd), log"),
    Measure("3500", "3505", "AREA (in²)"),
    Measure("3510", "3515", "AREA (ft²)"),
    Measure("3520", "3525", "AREA (yd²)"),
    Measure("3530", "3535", "AREA (in²), log"),
    Measure("3540", "3545", "AREA (ft²), log"),
    Measure("3550", "3555", "AREA (yd²), log"),
    Measure("3560", "3565", "NET WEIGHT (tr oz)"),
    Measure("3570", "3575", "NET VOLUME (oz)"),
    Measure("3600", "3605", "NET VOLUME (qt)"),
    Measure("3610", "3615", "NET VOLUME (gal.)"),
    Measure("3620", "3625", "VOLUME (qt), log"),
    Measure("3630", "3635", "VOLUME (gal.), log"),
    Measure("3640", "3645", "NET VOLUME (in³)"),
    Measure("3650", "3655", "NET VOLUME (ft³)"),
    Measure("3660", "3665", "NET VOLUME (yd³)"),
    Measure("3670", "3675", "VOLUME (in³), log"),
    Measure("3680", "3685", "VOLUME (ft³), log"),
    Measure("3690", "3695", "VOLUME (yd³), log"),
    Ai("37", "37", 1, 8, kAll, "COUNT"),
    Ai("3900", "3909", 1, 15, kAll, "AMOUNT"),
    Ai("3910", "3919", 4, 18, kAll, "AMOUNT"),
    Ai("3920", "3929", 1, 15, kAll, "PRICE"),
    Ai("3930", "3939", 4, 18, kAll, "PRICE"),
    Ai("3940", "3943", 4, 4, kAll, "PRCNT OFF"),
    Ai("3950", "3955", 6, 6, kAll, "PRICE/UoM"),
    Text("400", 30, "ORDER NUMBER"),
    Text("401", 30, "GINC"),
    Checked(Digits("402", 17, "GSIN"), 0, 17),
    Text("403", 30, "ROUTE"),
    Checked(Predefined(Digits("410", 13, "SHIP TO LOC")), 0, 13),
    Checked(Predefined(Digits("411", 13, "BILL TO")), 0, 13),
    Checked(Predefined(Digits("412", 13, "PURCHASE FROM")), 0, 13),
    Checked(Predefined(Digits("413", 13, "SHIP FOR LOC")), 0, 13),
    Checked(Predefined(Digits("414", 13, "LOC No.")), 0, 13),
    Checked(Predefined(Digits("415", 13, "PAY TO")), 0, 13),
    Checked(Predefined(Digits("416", 13, "PROD/SERV LOC")), 0, 13),
    Checked(Predefined(Digits("417", 13, "PARTY")), 0, 13),
    Text("420", 20, "SHIP TO POST"),
    Ai("421", "421", 4, 12, 3, "SHIP TO POST"),
    Digits("422", 3, "ORIGIN"),
    Ai("423", "423", 3, 15, kAll, "COUNTRY - INITIAL PROCESS"),
    Digits("424", 3, "COUNTRY - PROCESS"),
    Ai("425", "425", 3, 15, kAll, "COUNTRY - DISASSEMBLY"),
    Digits("426", 3, "COUNTRY - FULL PROCESS"),
    Text("427", 3, "ORIGIN SUBDIVISION"),
    Text("4300", 35, "SHIP TO COMP"),
    Text("4301", 35, "SHIP TO NAME"),
    Text("4302", 70, "SHIP TO ADD1"),
    Text("4303", 70, "SHIP TO ADD2"),
    Text("4304", 70, "SHIP TO SUB"),
    Text("4305", 70, "SHIP TO LOC"),
    Text("4306", 70, "SHIP TO REG"),
    Ai("4307", "4307", 2, 2, 0, "SHIP TO COUNTRY"),
    Text("4308", 30, "SHIP TO PHONE"),
    Digits("4309", 20, "SHIP TO GEO"),
    Text("4310", 35, "RTN TO COMP"),
    Text("4311", 35, "RTN TO NAME"),
    Text("4312", 70, "RTN TO ADD1"),
    Text("4313", 70, "RTN TO ADD2"),
    Text("4314", 70, "RTN TO SUB"),
    Text("4315", 70, "RTN TO LOC"),
    Text("4316", 70, "RTN TO REG"),
    Ai("4317", "4317", 2, 2, 0, "RTN TO COUNTRY"),
    Text("4318", 20, "RTN TO POST"),
    Text("4319", 30, "RTN TO PHONE"),
    Text("4320", 35, "SRV DESCRIPTION"),
    Digits("4321", 1, "DANGEROUS GOODS"),
    Digits("4322", 1, "AUTH TO LEAVE"),
    Digits("4323", 1, "SIG REQUIRED"),
    Dated(Digits("4324", 10, "NOT BEF DEL DT"), Gs1Date::kYymmd0, Gs1Time::kFollows),
    Dated(Digits("4325", 10, "NOT AFT DEL DT"), Gs1Date::kYymmd0, Gs1Time::kFollows),
    Dated(Digits("4326", 6, "REL DATE"), Gs1Date::kYymmdd),
    Ai("4330", "4330", 6, 7, 6, "MAX TEMP F."),
    Ai("4331", "4331", 6, 7, 6, "MAX TEMP C."),
    Ai("4332", "4332", 6, 7, 6, "MIN TEMP F."),
    Ai("4333", "4333", 6, 7, 6, "MIN TEMP C."),
    Digits("7001", 13, "NSN"),
    Text("7002", 30, "MEAT CUT"),
    Dated(Digits("7003", 10, "EXPIRY TIME"), Gs1Date::kYymmdd, Gs1Time::kFollows),
    Ai("7004", "7004", 1, 4, kAll, "ACTIVE POTENCY"),
    Text("7005", 12, "CATCH AREA"),
    Dated(Digits("7006", 6, "FIRST FREEZE DATE"), Gs1Date::kYymmdd),
    Dated(Ai("7007", "7007", 6, 12, kAll, "HARVEST DATE"), Gs1Date::kYymmddRange),
    Text("7008", 3, "AQUATIC SPECIES"),
    Text("7009", 10, "FISHING GEAR TYPE"),
    Text("7010", 2, "PROD METHOD"),
    Dated(Ai("7011", "7011", 6, 10, kAll, "TEST BY DATE"), Gs1Date::kYymmdd, Gs1Time::kFollows),
    Text("7020", 20, "REFURB LOT"),
    Text("7021", 20, "FUNC STAT"),
    Text("7022", 20, "REV STAT"),
    Text("7023", 30, "GIAI - ASSEMBLY"),
    Ai("7030", "7039", 4, 30, 3, "PROCESSOR # s"),
    Ai("7040", "7040", 4, 4, 1, "UIC+EXT"),
    Text("7041", 4, "UFRGT UNIT TYPE"),
    Ai("710", "717", 1, 20, 0, "NHRN"),
    Ai("7230", "7239", 3, 30, 0, "CERT # s"),
    Text("7240", 20, "PROTOCOL"),
    Digits("7241", 2, "AIDC MEDIA TYPE"),
    Text("7242", 25, "VCN"),
    Dated(Digits("7250", 8, "DOB"), Gs1Date::kYyyymmdd),
    Dated(Digits("7251", 12, "DOB TIME"), Gs1Date::kYyyymmdd, Gs1Time::kFollows),
    Digits("7252", 1, "BIO SEX"),
    Text("7253", 40, "FAMILY NAME"),
    Text("7254", 40, "GIVEN NAME"),
    Text("7255", 10, "SUFFIX"),
    Text("7256", 90, "FULL NAME"),
    Text("7257", 70, "PERSON ADDR"),
    Ai("7258", "7258", 3, 3, 0, "BIRTH SEQUENCE"),
    Text("7259", 40, "BABY"),
    Digits("8001", 14, "DIMENSIONS"),
    Text("8002", 20, "CMT No."),
    Checked(Ai("8003", "8003", 14, 30, 14, "GRAI"), 1, 13),
    Text("8004", 30, "GIAI"),
    Digits("8005", 6, "PRICE PER UNIT"),
    Checked(Digits("8006", 18, "ITIP"), 0, 14),
    Text("8007", 34, "IBAN"),
    Dated(Ai("8008", "8008", 8, 12, kAll, "PROD TIME"), Gs1Date::kYymmdd, Gs1Time::kFollows),
    Text("8009", 50, "OPTSEN"),
    Text("8010", 30, "CPID"),
    Ai("8011", "8011", 1, 12, kAll, "CPID SERIAL"),
    Text("8012", 20, "VERSION"),
    Text("8013", 25, "GMN"),
    Text("8014", 25, "MUDI"),
    Checked(Digits("8017", 18, "GSRN - PROVIDER"), 0, 18),
    Checked(Digits("8018", 18, "GSRN - RECIPIENT"), 0, 18),
    Ai("8019", "8019", 1, 10, kAll, "SRIN"),
    Text("8020", 25, "REF No."),
    Checked(Digits("8026", 18, "ITIP CONTENT"), 0, 14),
    Text("8030", 90, "DIGSIG"),
    Digits("8040", 15, "IMEI"),
    Digits("8041", 15, "IMEI2"),
    Digits("8042", 32, "ESIM"),
    Ai("8043", "8043", 18, 20, kAll, "PSIM"),
    Text("8110", 70, ""),
    Digits("8111", 4, "POINTS"),
    Text("8112", 70, ""),
    Text("8200", 70, "PRODUCT URL"),
    Text("90", 30, "INTERNAL"),
    Ai("91", "99", 1, 90, 0, "INTERNAL"),
};

bool InRange(const Gs1Identifier& id, std::string_view ai) {
  return ai.size() == id.first.size() && ai >= id.first && ai <= id.last;
}

}  // namespace

std::span<const Gs1Identifier> Gs1Identifiers() { return kIdentifiers; }

const Gs1Identifier* Gs1IdentifierNamed(std::string_view ai) {
  const auto found = std::find_if(kIdentifiers.begin(), kIdentifiers.end(),
                                  [ai](const Gs1Identifier& id) { return InRange(id, ai); });
  return found == kIdentifiers.end() ? nullptr : &*found;
}

const Gs1Identifier* FindGs1Identifier(std::string_view digits) {
  for (std::size_t length = 2; length <= 4 && length <= digits.size(); ++length) {
    if (const Gs1Identifier* id = Gs1IdentifierNamed(digits.substr(0, length))) return id;
  }
  return nullptr;
}

}  // namespace lintrel::records
