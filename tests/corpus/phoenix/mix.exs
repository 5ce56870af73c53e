defmodule Hello.MixProject do
  use Mix.Project

  def project do
    [
      app: :hello,
      version: "0.1.0",
      elixir: "~> 1.14",
      deps: deps()
    ]
  end

  defp deps do
    [{:phoenix, "~> 1.7.14"}, {:ecto_sql, "~> 3.10"}, {:postgrex, ">= 0.0.0"}]
  end
end
