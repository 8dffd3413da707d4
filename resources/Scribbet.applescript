-- Scribbet's ribbon helper. The add-in's ribbon buttons call these handlers through
-- AppleScriptTask, the one way an add-in in the sandbox may reach another application.
-- (AppleScript source; the macOS build compiles it with osacompile into Scribbet.scpt.)

on openLink(theLink)
	open location theLink
	return "OK"
end openLink

on isRunning(bundleId)
	tell application "System Events" to return (exists (processes whose bundle identifier is bundleId)) as text
end isRunning
