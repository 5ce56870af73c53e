local MyPluginHandler = { PRIORITY = 1000, VERSION = "0.1.0" }
return MyPluginHandler
