// The zanfiro launcher client as an ES module. The code is the classic
// script beside this file (zanfiro-launcher.js), which defines
// globalThis.ZanfiroLauncher; this module loads it once and exports its parts.
// Copy both files together.
import "./zanfiro-launcher.js";

const launcher = globalThis.ZanfiroLauncher;

export const getAppStatus = launcher.getAppStatus;
export const startZanfiro = launcher.startZanfiro;
export const loopbackPermission = launcher.loopbackPermission;
export const ZanfiroLauncherError = launcher.ZanfiroLauncherError;
export const ErrorCode = launcher.ErrorCode;
export default launcher;
