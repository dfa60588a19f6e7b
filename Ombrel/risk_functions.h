// risk_functions.h: the module functions over veltrane's pre-trade risk
// checks (veltrane_risk.h): SetRiskLimits, RiskStatus and SetTradingEnabled.
// Conversion only; the checks themselves are veltrane's.

#ifndef OMBREL_RISK_FUNCTIONS_H
#define OMBREL_RISK_FUNCTIONS_H

namespace ombrel {

// Registers the three functions in the current module scope.
void RegisterRiskFunctions();

}  // namespace ombrel

#endif  // OMBREL_RISK_FUNCTIONS_H
