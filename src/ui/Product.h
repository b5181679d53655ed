#pragma once

// The product's name as every page and message box shows it, and where its
// Help menu leads.
namespace qis::ui {

inline constexpr const char* kProductTitle = "Quenmar Image Salvage v3.02";
inline constexpr const char* kManualUrl = "https://quenmar.example/image-salvage/manual.pdf";
inline constexpr const char* kHomepageUrl = "https://quenmar.example/image-salvage/";
inline constexpr const char* kSupportMail = "support@quenmar.example";
inline constexpr const char* kSalesMail = "sales@quenmar.example";
// Stands in for the named mutex that keeps a second copy from running.
inline constexpr const char* kInstanceLockName = "{QUENMARIMAGESALVAGE.0_EXE_RUNNING1}";

} // namespace qis::ui
