import Config

config :hello,
  ecto_repos: [Hello.Repo],
  generators: [timestamp_type: :utc_datetime]

import_config "#{config_env()}.exs"
