class HomeController < ApplicationController
end
