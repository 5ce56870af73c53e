import Config

# Configure your database
config :hello, Hello.Repo,
  username: "phoenix",
  password: "phoenix-dev-pw",
  hostname: "localhost",
  database: "hello_dev",
  stacktrace: true,
  show_sensitive_data_on_connection_error: true,
  pool_size: 10

config :hello, HelloWeb.Endpoint,
  http: [ip: {127, 0, 0, 1}, port: 4000],
  check_origin: false,
  secret_key_base: "abc"
