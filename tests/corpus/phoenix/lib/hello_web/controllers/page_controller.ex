defmodule HelloWeb.PageController do
  use HelloWeb, :controller
end
