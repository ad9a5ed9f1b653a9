; Inno Setup 6.3+ script for Vostan TV Player (64-bit Windows).
; Build steps: README.md next to this file. In short:
;   iscc /DStageDir=<folder with bin\vostan-player.exe and windeployqt's files> VostanPlayer.iss
; The player's update hand-off runs the result with
;   /VERYSILENT /CLOSEAPPLICATIONS /RESTARTAPPLICATIONS
; which upgrades in place (same AppId, same folder) and starts the new player.

#define AppName "Vostan TV Player"
#define AppVersion "1.1"
#define AppExe "vostan-player.exe"
#ifndef StageDir
  #define StageDir SourcePath + "..\..\build-windows\stage"
#endif

[Setup]
; Never change the AppId: it is what makes a new version an upgrade.
AppId={{36251A55-284B-4AE4-A6C2-82C566DDF420}
AppName={#AppName}
AppVersion={#AppVersion}
AppVerName={#AppName} {#AppVersion}
AppPublisher=Vostan TV
AppPublisherURL=https://vostan.tv
AppSupportURL=https://vostan.tv
AppCopyright=Copyright (C) 2026 Vostan TV
VersionInfoVersion={#AppVersion}.0.0
VersionInfoProductName={#AppName}
DefaultDirName={autopf}\Vostan TV Player
DisableProgramGroupPage=yes
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
PrivilegesRequired=admin
; Files in use are released through the Restart Manager, also when silent.
CloseApplications=yes
RestartApplications=yes
SetupIconFile=vostan-player.ico
UninstallDisplayIcon={app}\bin\{#AppExe}
UninstallDisplayName={#AppName}
OutputDir=Output
OutputBaseFilename=VostanPlayer_Setup_{#AppVersion}
Compression=lzma2
SolidCompression=yes
WizardStyle=modern

[Languages]
Name: "english"; MessagesFile: "compiler:Default.isl"
Name: "russian"; MessagesFile: "compiler:Languages\Russian.isl"

[Tasks]
Name: "desktopicon"; Description: "{cm:CreateDesktopIcon}"; GroupDescription: "{cm:AdditionalIcons}"; Flags: unchecked

[Files]
; The output of `cmake --install` plus windeployqt: bin\vostan-player.exe, the
; Qt DLLs and plugin folders. The VC++ redistributable goes to {tmp} only.
Source: "{#StageDir}\*"; DestDir: "{app}"; Excludes: "vc_redist.*.exe"; Flags: ignoreversion recursesubdirs createallsubdirs
#if FileExists(AddBackslash(StageDir) + "bin\vc_redist.x64.exe")
Source: "{#StageDir}\bin\vc_redist.x64.exe"; DestDir: "{tmp}"; Flags: deleteafterinstall
#define HaveVcRedist
#endif

[InstallDelete]
; An upgrade replaces the whole program folder, so DLLs and plugins of an
; older Qt never linger next to the new ones.
Type: filesandordirs; Name: "{app}\bin"

[Icons]
Name: "{autoprograms}\{#AppName}"; Filename: "{app}\bin\{#AppExe}"
Name: "{autodesktop}\{#AppName}"; Filename: "{app}\bin\{#AppExe}"; Tasks: desktopicon

[Run]
#ifdef HaveVcRedist
Filename: "{tmp}\vc_redist.x64.exe"; Parameters: "/install /quiet /norestart"; StatusMsg: "Microsoft Visual C++ Runtime..."; Flags: waituntilterminated
#endif
; Interactive install: the usual "Launch" box on the last page.
Filename: "{app}\bin\{#AppExe}"; Description: "{cm:LaunchProgram,{#AppName}}"; Flags: nowait postinstall skipifsilent
; Silent update with /RESTARTAPPLICATIONS: start the new player. The Restart
; Manager alone would not, as the player does not register for restart (and
; usually has already quit after starting this installer). It runs as the
; user who started Setup, not elevated, so it finds that user's settings.
Filename: "{app}\bin\{#AppExe}"; Flags: nowait runasoriginaluser; Check: WizardSilent and RestartRequested

[Code]
function RestartRequested: Boolean;
var
  I: Integer;
begin
  Result := False;
  for I := 1 to ParamCount do
    if CompareText(ParamStr(I), '/RESTARTAPPLICATIONS') = 0 then
      Result := True;
end;
