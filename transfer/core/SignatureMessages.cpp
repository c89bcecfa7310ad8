#include "transfer/core/SignatureMessages.h"

namespace transfer {

const char* const kSignatureVerifiedStatus = "PODPIS SOUBORU OVĚŘEN";

namespace {

std::string ProblemText(signature::Problem problem, const std::string& f) {
    using signature::Problem;
    switch (problem) {
    case Problem::None: return "";
    case Problem::Missing: return "Na serveru chybí podpis souboru " + f + " (" + f + ".minisig)!";
    case Problem::Oversized: return "Podpis souboru " + f + " je příliš velký, nejde o podpis!";
    case Problem::Malformed: return "Podpis souboru " + f + " je poškozený nebo má chybný formát!";
    case Problem::BadKey: return "Klíč pro ověřování podpisů uložený v programu je neplatný!";
    case Problem::UnknownKey: return "Soubor " + f + " je podepsaný neznámým klíčem!";
    case Problem::CommentTampered: return "Podpis souboru " + f + " byl pozměněn!";
    case Problem::OtherFile: return "Podpis na serveru nepatří k souboru " + f + "!";
    case Problem::Mismatch: return "Soubor " + f + " neodpovídá svému podpisu, byl pozměněn!";
    case Problem::LegacyKind:
        return "Soubor " + f +
               " je podepsaný starým typem podpisu, který program nepřijímá! Vydavatel ho musí podepsat "
               "výchozím typem programu minisign (bez volby -l).";
    case Problem::NoTimestamp: return "Důvěryhodný komentář podpisu souboru " + f + " neuvádí čas podpisu!";
    case Problem::NotListed: return "Podepsaný soubor verze neuvádí otisk souboru " + f + "!";
    case Problem::HashMismatch: return "Soubor " + f + " neodpovídá otisku v podepsaném souboru verze!";
    case Problem::Replayed: return "Server nabízí starší soubor " + f + ", než jaký už byl jednou ověřen!";
    }
    return "Podpis souboru " + f + " nelze ověřit!";
}

const char* Consequence(SignedFileRole role) {
    switch (role) {
    case SignedFileRole::VersionFile: return "Souboru nelze věřit, nová verze se nenabízí.";
    case SignedFileRole::DokumVersionFile: return "Souboru nelze věřit, dokumentace se nestáhne.";
    case SignedFileRole::DownloadedFile: return "Soubor nebyl uložen, původní soubory zůstaly beze změny.";
    }
    return "";
}

} // namespace

std::string SeenStateFailureMessage(const std::string& error, SignedFileRole role) {
    return "Záznam o ověřených podpisech nelze použít: " + error + "\r\nOpravte nebo smažte tento soubor. " +
           Consequence(role);
}

std::string VersionFileTooLargeMessage(const std::string& fileName, SignedFileRole role) {
    return "Soubor " + fileName + " je příliš velký, nejde o soubor verze!\r\n" + Consequence(role);
}

std::string SignatureFailureMessage(signature::Problem problem, const std::string& fileName, SignedFileRole role) {
    if (problem == signature::Problem::None)
        return std::string();
    return ProblemText(problem, fileName) + "\r\n" + Consequence(role);
}

} // namespace transfer
